/* Reset entry: set up the stack, copy .data from flash to RAM, clear .bss,
   call main. The symbols come from the generated linker script. */
  .section .init, "ax"
  .globl _start
_start:
  la sp, __stack_top

  la a0, __data_load_start__
  la a1, __data_start__
  la a2, __data_end__
1:
  bgeu a1, a2, 2f
  lbu t0, 0(a0)
  sb t0, 0(a1)
  addi a0, a0, 1
  addi a1, a1, 1
  j 1b
2:
  la a0, __bss_start__
  la a1, __bss_end__
3:
  bgeu a0, a1, 4f
  sb zero, 0(a0)
  addi a0, a0, 1
  j 3b
4:
  call main
5:
  wfi
  j 5b

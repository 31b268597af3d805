/* Reset: global pointer, stack, copies of .data and .fast, .bss cleared. */
  .section .init, "ax"
  .globl _start
_start:
  .option push
  .option norelax
  la gp, __global_pointer$
  .option pop
  la sp, __stack_end__
  la a0, __data_load_start__
  la a1, __data_start__
  la a2, __data_end__
  call copy
  la a0, __fast_load_start__
  la a1, __fast_start__
  la a2, __fast_end__
  call copy
  fence.i
  la a0, __bss_start__
  la a1, __bss_end__
1:
  bgeu a0, a1, 2f
  sb zero, 0(a0)
  addi a0, a0, 1
  j 1b
2:
  call main
3:
  wfi
  j 3b

copy:  /* a0: from, a1: to, a2: end of to */
  bgeu a1, a2, 4f
  lbu t0, 0(a0)
  sb t0, 0(a1)
  addi a0, a0, 1
  addi a1, a1, 1
  j copy
4:
  ret

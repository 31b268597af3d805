/* Reset entry for QEMU's riscv32 virt board. The CPU starts here, at the
   first byte of flash, in machine mode with RAM holding whatever it holds.
   Every address below comes from the linker script that mkld writes. */
  .section .init, "ax"
  .globl _start
_start:
  /* gp first: with relaxation on, the linker would turn this very load
     into one relative to gp, which holds nothing yet. */
  .option push
  .option norelax
  la gp, __global_pointer$
  .option pop
  la sp, __stack_top
  la t0, trap
  csrw mtvec, t0

  /* .data: its initial values from flash to where it runs. */
  la a0, __data_load_start__
  la a1, __data_start__
  la a2, __data_end__
  call copy
  /* The function that runs from RAM, and fence.i so that the instruction
     fetch sees the bytes just stored. */
  la a0, __fast_load_start__
  la a1, __fast_start__
  la a2, __fast_end__
  call copy
  fence.i
  /* .bss: zeros. */
  la a0, __bss_start__
  la a1, __bss_end__
1:
  bgeu a0, a1, 2f
  sb zero, 0(a0)
  addi a0, a0, 1
  j 1b
2:
  call main
  call virt_exit

/* Copies the bytes from a0 to a1 up to the end address a2. */
copy:
  bgeu a1, a2, 2f
1:
  lbu t0, 0(a0)
  sb t0, 0(a1)
  addi a0, a0, 1
  addi a1, a1, 1
  bltu a1, a2, 1b
2:
  ret

/* Any exception ends the run at once, with 128 + the cause as the status,
   rather than leaving the test to its timeout. */
  .balign 4
trap:
  csrr a0, mcause
  andi a0, a0, 0x3f
  ori a0, a0, 0x80
  call virt_exit

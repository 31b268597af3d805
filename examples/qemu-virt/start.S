/* Reset entry for QEMU's riscv32 virt board. The CPU starts here, at the
   first byte of flash, in machine mode with RAM holding whatever it holds.
   Every address below comes from the linker script that mkld writes.

   GNU as 2.40 wants the Zicsr and Zifencei extensions named for csrw and
   fence.i; clang 14 knows neither name nor this directive, and takes the
   instructions in plain rv32imac. So both build with -march=rv32imac. */
#ifndef __clang__
  .option arch, +zicsr, +zifencei
#endif

  .section .init, "ax"
  .globl _start
_start:
  /* gp first: with relaxation on, the linker would turn this very load
     into one relative to gp, which holds nothing yet. */
  .option push
  .option norelax
  la gp, __global_pointer$
  .option pop
  la sp, __stack
  la t0, trap
  csrw mtvec, t0

  /* .data and the initial image of thread-local storage: their initial
     values from flash to where they run. */
  la a0, __data_load_start__
  la a1, __data_start__
  la a2, __data_end__
  call copy
  la a0, __tdata_load_start__
  la a1, __tdata_start__
  la a2, __tdata_end__
  call copy
  /* The function that runs from RAM, and fence.i so that the instruction
     fetch sees the bytes just stored. The names are weak: with no .fast
     section in the placement (examples/c-runtime uses this file too) they
     are all 0 and nothing is copied. */
  .weak __fast_load_start__, __fast_start__, __fast_end__
  la a0, __fast_load_start__
  la a1, __fast_start__
  la a2, __fast_end__
  call copy
  fence.i
  /* .bss and .tbss: zeros. */
  la a0, __bss_start__
  la a1, __bss_end__
  call clear
  la a0, __tbss_start__
  la a1, __tbss_end__
  call clear
  /* The thread pointer: this thread's block of thread-local storage. */
  la tp, __tls_base

  /* Constructors, main, then exit (destructors, then _exit in main.c). */
  call __libc_init_array
  call main
  call exit

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

/* Clears the bytes from a0 up to a1. */
clear:
  bgeu a0, a1, 2f
  sb zero, 0(a0)
  addi a0, a0, 1
  j clear
2:
  ret

/* Any exception ends the run at once, with 128 + the cause as the status,
   rather than leaving the test to its timeout. */
  .balign 4
trap:
  csrr a0, mcause
  andi a0, a0, 0x3f
  ori a0, a0, 0x80
  call _exit

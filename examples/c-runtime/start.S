/* Reset entry for a bare-metal RV32 program with a C library: the CPU starts
   here, at the first byte of the program in flash, in machine mode with RAM
   holding whatever it holds. Every address below comes from the linker
   script that mkld writes from a placement that includes the C run-time
   fragments (c-runtime-rom.xml and c-runtime-ram.xml).

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

  /* Initialised data and the initial image of thread-local storage, from
     flash to where they run; then zeros for .bss and .tbss. */
  la a0, __data_load_start__
  la a1, __data_start__
  la a2, __data_end__
  call copy
  la a0, __tdata_load_start__
  la a1, __tdata_start__
  la a2, __tdata_end__
  call copy
  fence.i
  la a0, __bss_start__
  la a1, __bss_end__
  call clear
  la a0, __tbss_start__
  la a1, __tbss_end__
  call clear
  /* The thread pointer: this thread's block is the one just made. */
  la tp, __tls_base

  /* Constructors (.preinit_array, then .init_array in priority order),
     main, then exit, which runs .fini_array. */
  call __libc_init_array
  li a0, 0
  li a1, 0
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

/* A semihosting request to the debugger or emulator: a0 the operation, a1
   its argument; the answer in a0. The three instructions must be exactly
   these, uncompressed, within one page. */
  .section .text.semihost, "ax"
  .balign 16
  .globl semihost
semihost:
  .option push
  .option norvc
  slli zero, zero, 0x1f
  ebreak
  srai zero, zero, 7
  .option pop
  ret

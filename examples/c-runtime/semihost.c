/* The C library's output and exit, through semihosting: QEMU (with
   -semihosting-config enable=on) and debuggers answer the same requests on
   any board, so one program runs on every board without a UART driver. */
#include <stdio.h>
#include <stdlib.h>

/* A semihosting request: a0 the operation, a1 its argument; the answer in
   a0. The three instructions must be exactly these, uncompressed, within
   one page. */
long semihost(long operation, const void *argument);
__asm__(".section .text.semihost, \"ax\"\n"
        ".balign 16\n"
        ".globl semihost\n"
        "semihost:\n"
        ".option push\n"
        ".option norvc\n"
        "slli zero, zero, 0x1f\n"
        "ebreak\n"
        "srai zero, zero, 7\n"
        ".option pop\n"
        "ret\n"
        ".previous\n");

enum { SYS_WRITEC = 0x03, SYS_EXIT_EXTENDED = 0x20, ADP_STOPPED_APPLICATION_EXIT = 0x20026 };

static int put(char c, FILE *file) {
  (void)file;
  semihost(SYS_WRITEC, &c);
  return (unsigned char)c;
}

static FILE console = FDEV_SETUP_STREAM(put, NULL, NULL, _FDEV_SETUP_WRITE);
FILE *const stdout = &console;

void _exit(int status) {
  const long block[2] = {ADP_STOPPED_APPLICATION_EXIT, status};
  semihost(SYS_EXIT_EXTENDED, block);
  for (;;)
    ;
}

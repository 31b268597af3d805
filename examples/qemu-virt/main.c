/* Checks that start.S and the linker script set the program up as the
   placement says, prints what it finds through picolibc's printf on the
   UART, and returns a bit mask of the failed checks, which exit() hands to
   _exit() below: QEMU ends with it as its status. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "uart.h"

enum {
  DATA_FAILED = 1 << 0,
  BSS_FAILED = 1 << 1,
  RAM_FUNCTION_FAILED = 1 << 2,
  HEAP_FAILED = 1 << 3,
  STACK_FAILED = 1 << 4,
  GP_FAILED = 1 << 5,
  CONSTRUCTORS_FAILED = 1 << 6,
  TLS_FAILED = 1 << 7,
};

/* Symbols of the generated script; only their addresses mean anything. */
extern char __RAM_segment_start__[], __RAM_segment_end__[];
extern char __bss_end__[], __heap_start[], __heap_end[];
extern char __stack_start__[], __stack[];
extern char global_pointer[] __asm__("__global_pointer$");
/* The test device (memory-map.xml): 0x5555 ends QEMU with status 0,
   (code << 16) | 0x3333 with status code. */
extern volatile uint32_t virt_test[];

/* .data and .sdata: stored in flash, copied to RAM by start.S. */
static uint32_t data_word = 0x600dda7a;
static char data_text[] = "initialised";
int small_counter = 42;

/* .bss and .sbss: cleared by start.S. */
static uint32_t bss_words[16];
int small_zero;

/* Thread-local: .tdata copied and .tbss cleared by start.S, reached
   through tp. */
__thread uint32_t tls_word = 0x7715da7a;
__thread uint32_t tls_zero;

/* Constructors: the one with priority 101 runs before the default one. */
static int constructed[2];
static int constructors;
__attribute__((constructor)) static void construct_default(void) {
  constructed[constructors++] = 65535;
}
__attribute__((constructor(101))) static void construct_first(void) {
  constructed[constructors++] = 101;
}

/* .fast: stored in flash, copied to RAM by start.S, run there. */
__attribute__((section(".fast"), noinline)) uint32_t ram_function(uint32_t x) {
  return x * 3 + 1;
}

static int in_ram(uintptr_t address) {
  return address >= (uintptr_t)__RAM_segment_start__ && address < (uintptr_t)__RAM_segment_end__;
}

static unsigned report(const char* what, uintptr_t value, int ok, unsigned bit) {
  printf("%-14s0x%08lx  %s\n", what, (unsigned long)value, ok ? "ok" : "FAILED");
  return ok ? 0 : bit;
}

static unsigned check_data(void) {
  static const char expected[] = "initialised";
  int ok = data_word == 0x600dda7a && small_counter == 42 && in_ram((uintptr_t)&data_word);
  for (unsigned i = 0; i < sizeof expected; ++i)
    ok = ok && data_text[i] == expected[i];
  return report("data:", data_word, ok, DATA_FAILED);
}

static unsigned check_bss(void) {
  uint32_t any = (uint32_t)small_zero;
  for (unsigned i = 0; i < sizeof bss_words / sizeof bss_words[0]; ++i)
    any |= bss_words[i];
  return report("bss (or'ed):", any, any == 0, BSS_FAILED);
}

static unsigned check_ram_function(void) {
  const uintptr_t address = (uintptr_t)&ram_function;
  /* Called only where it should be: a jump into an unfilled copy would trap. */
  const int ok = in_ram(address) && ram_function(42) == 127;
  return report("ram function:", address, ok, RAM_FUNCTION_FAILED);
}

static unsigned check_heap(void) {
  const uintptr_t start = (uintptr_t)__heap_start, end = (uintptr_t)__heap_end;
  int ok = start >= (uintptr_t)__bss_end__ && start % 8 == 0 && end == (uintptr_t)__stack_start__;
  /* malloc takes its memory between the bounds, and no more than is there
     (volatile: a compiler may drop an allocation whose result goes unused). */
  static char* volatile block, *volatile refused;
  block = malloc(256);
  refused = malloc(end - start);
  ok = ok && block && (uintptr_t)block >= start && (uintptr_t)block + 256 <= end && !refused;
  free(block);
  report("heap start:", start, ok, HEAP_FAILED);
  return report("heap end:", end, ok, HEAP_FAILED);
}

static unsigned check_stack(void) {
  uintptr_t sp;
  __asm__ volatile("mv %0, sp" : "=r"(sp));
  const uintptr_t top = (uintptr_t)__stack;
  const int ok = top == (uintptr_t)__RAM_segment_end__ && sp < top && sp >= (uintptr_t)__stack_start__;
  return report("stack top:", top, ok, STACK_FAILED);
}

static unsigned check_gp(void) {
  uintptr_t gp;
  __asm__ volatile("mv %0, gp" : "=r"(gp));
  return report("gp:", gp, gp == (uintptr_t)global_pointer, GP_FAILED);
}

static unsigned check_constructors(void) {
  const int ok = constructors == 2 && constructed[0] == 101 && constructed[1] == 65535;
  return report("constructors:", (uintptr_t)constructors, ok, CONSTRUCTORS_FAILED);
}

/* A thread-local variable with an initial value, a zero-initialised one,
   and errno, which picolibc keeps there too (the refused malloc of
   check_heap set it), all reached through tp. */
static unsigned check_tls(void) {
  const int ok = tls_word == 0x7715da7a && tls_zero == 0 && errno == ENOMEM &&
                 in_ram((uintptr_t)&tls_word) && in_ram((uintptr_t)&errno);
  return report("thread-local:", (uintptr_t)&tls_word, ok, TLS_FAILED);
}

int main(void) {
  uart_init();
  printf("qemu-virt: firmware linked with a script from mkld\n");
  const unsigned failed = check_data() | check_bss() | check_ram_function() | check_heap() |
                          check_stack() | check_gp() | check_constructors() | check_tls();
  if (failed)
    printf("failed checks: 0x%x\n", failed);
  else
    printf("all checks passed\n");
  return (int)failed;
}

/* The end of exit(): the status goes to QEMU through the test device. */
__attribute__((noreturn)) void _exit(int status) {
  const unsigned failed = (unsigned)status;
  virt_test[0] = failed ? (failed << 16) | 0x3333 : 0x5555;
  for (;;) {
  }
}

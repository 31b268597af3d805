/* Checks that start.S and the linker script set the program up as the
   placement says, prints what it finds on the UART, and returns a bit mask
   of the failed checks, which start.S hands to virt_exit(). */
#include <stdint.h>

#include "uart.h"

enum {
  DATA_FAILED = 1 << 0,
  BSS_FAILED = 1 << 1,
  RAM_FUNCTION_FAILED = 1 << 2,
  HEAP_FAILED = 1 << 3,
  STACK_FAILED = 1 << 4,
  GP_FAILED = 1 << 5,
};

/* Symbols of the generated script; only their addresses mean anything. */
extern char __RAM_segment_start__[], __RAM_segment_end__[];
extern char __bss_end__[], __heap_start[], __heap_end[];
extern char __stack_start__[], __stack_top[];
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

/* .fast: stored in flash, copied to RAM by start.S, run there. */
__attribute__((section(".fast"), noinline)) uint32_t ram_function(uint32_t x) {
  return x * 3 + 1;
}

static int in_ram(uintptr_t address) {
  return address >= (uintptr_t)__RAM_segment_start__ && address < (uintptr_t)__RAM_segment_end__;
}

static unsigned report(const char* what, uint32_t value, int ok, unsigned bit) {
  uart_puts(what);
  uart_hex(value);
  uart_puts(ok ? "  ok\n" : "  FAILED\n");
  return ok ? 0 : bit;
}

static unsigned check_data(void) {
  static const char expected[] = "initialised";
  int ok = data_word == 0x600dda7a && small_counter == 42 && in_ram((uintptr_t)&data_word);
  for (unsigned i = 0; i < sizeof expected; ++i)
    ok = ok && data_text[i] == expected[i];
  return report("data:         ", data_word, ok, DATA_FAILED);
}

static unsigned check_bss(void) {
  uint32_t any = (uint32_t)small_zero;
  for (unsigned i = 0; i < sizeof bss_words / sizeof bss_words[0]; ++i)
    any |= bss_words[i];
  return report("bss (or'ed):  ", any, any == 0, BSS_FAILED);
}

static unsigned check_ram_function(void) {
  const uintptr_t address = (uintptr_t)&ram_function;
  /* Called only where it should be: a jump into an unfilled copy would trap. */
  const int ok = in_ram(address) && ram_function(42) == 127;
  return report("ram function: ", (uint32_t)address, ok, RAM_FUNCTION_FAILED);
}

static unsigned check_heap(void) {
  const uintptr_t start = (uintptr_t)__heap_start, end = (uintptr_t)__heap_end;
  int ok = start >= (uintptr_t)__bss_end__ && start % 8 == 0 && end == (uintptr_t)__stack_start__ &&
           end > start;
  if (ok) {  /* both ends are memory that holds what is written */
    volatile uint32_t* first = (volatile uint32_t*)start;
    volatile uint32_t* last = (volatile uint32_t*)end - 1;
    *first = 0x1eaf0001;
    *last = 0x1eaf0002;
    ok = *first == 0x1eaf0001 && *last == 0x1eaf0002;
  }
  report("heap start:   ", (uint32_t)start, ok, HEAP_FAILED);
  return report("heap end:     ", (uint32_t)end, ok, HEAP_FAILED);
}

static unsigned check_stack(void) {
  uintptr_t sp;
  __asm__ volatile("mv %0, sp" : "=r"(sp));
  const uintptr_t top = (uintptr_t)__stack_top;
  const int ok = top == (uintptr_t)__RAM_segment_end__ && sp < top && sp >= (uintptr_t)__stack_start__;
  return report("stack top:    ", (uint32_t)top, ok, STACK_FAILED);
}

static unsigned check_gp(void) {
  uintptr_t gp;
  __asm__ volatile("mv %0, gp" : "=r"(gp));
  return report("gp:           ", (uint32_t)gp, gp == (uintptr_t)global_pointer, GP_FAILED);
}

int main(void) {
  uart_init();
  uart_puts("qemu-virt: firmware linked with a script from mkld\n");
  const unsigned failed = check_data() | check_bss() | check_ram_function() | check_heap() |
                          check_stack() | check_gp();
  if (failed) {
    uart_puts("failed checks: ");
    uart_hex(failed);
    uart_puts("\n");
  } else {
    uart_puts("all checks passed\n");
  }
  return (int)failed;
}

__attribute__((noreturn)) void virt_exit(unsigned failed) {
  virt_test[0] = failed ? (failed << 16) | 0x3333 : 0x5555;
  for (;;) {
  }
}

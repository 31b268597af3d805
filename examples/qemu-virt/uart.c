#include "uart.h"

/* The segment's address_symbol in memory-map.xml. */
extern volatile uint8_t uart0[];

enum { THR = 0, IER = 1, FCR = 2, LCR = 3, LSR = 5 };
enum { LCR_8N1 = 0x03, FCR_ENABLE = 0x01, LSR_THR_EMPTY = 0x20 };

void uart_init(void) {
  uart0[IER] = 0;
  uart0[LCR] = LCR_8N1;
  uart0[FCR] = FCR_ENABLE;
}

static void uart_putc(char c) {
  while (!(uart0[LSR] & LSR_THR_EMPTY)) {
  }
  uart0[THR] = (uint8_t)c;
}

void uart_puts(const char* text) {
  for (; *text; ++text) {
    if (*text == '\n')
      uart_putc('\r');
    uart_putc(*text);
  }
}

void uart_hex(uint32_t value) {
  uart_puts("0x");
  for (int shift = 28; shift >= 0; shift -= 4)
    uart_putc("0123456789abcdef"[(value >> shift) & 0xf]);
}

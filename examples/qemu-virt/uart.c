#include "uart.h"

#include <stdint.h>
#include <stdio.h>

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

/* picolibc's stdio writes through this. */
static int put(char c, FILE* file) {
  (void)file;
  if (c == '\n')
    uart_putc('\r');
  uart_putc(c);
  return (unsigned char)c;
}

static FILE uart_stream = FDEV_SETUP_STREAM(put, NULL, NULL, _FDEV_SETUP_WRITE);
FILE* const stdout = &uart_stream;

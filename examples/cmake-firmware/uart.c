#include "uart.h"

#include <stdint.h>

/* Defined on the mkld command line (SYMBOLS in CMakeLists.txt). */
extern volatile uint32_t uart0_registers[];

enum { TXDATA = 0, RXDATA = 1, TXCTRL = 2, DIV = 6 };
#define TXDATA_FULL 0x80000000u

void uart_init(unsigned divisor) {
  uart0_registers[DIV] = divisor;
  uart0_registers[TXCTRL] = 1;
}

void uart_puts(const char* text) {
  for (; *text; ++text) {
    while (uart0_registers[TXDATA] & TXDATA_FULL) {
    }
    uart0_registers[TXDATA] = (uint8_t)*text;
  }
}

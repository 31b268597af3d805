#include "uart.h"

/* .data: stored in flash, copied to RAM by start.S. */
static unsigned baud_divisor = 138;
static char banner[] = "hello from RV32\r\n";

/* .bss: cleared by start.S. */
static unsigned boot_count;

int main(void) {
  ++boot_count;
  uart_init(baud_divisor);
  for (;;)
    uart_puts(banner);
}

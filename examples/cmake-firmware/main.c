#include "uart.h"

/* .rodata */
const char firmware_version[] = "fw 1.0";

/* .data: stored in flash, copied to RAM by start.S. */
unsigned baud_divisor = 138;
static char banner[] = "hello from RV32\r\n";

/* .bss: cleared by start.S. */
static unsigned boot_count;

int main(void) {
  ++boot_count;
  uart_init(baud_divisor);
  uart_puts(firmware_version);
  for (;;)
    uart_puts(banner);
}

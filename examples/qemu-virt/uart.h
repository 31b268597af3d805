#pragma once

/* The NS16550 UART of the virt board (address from the memory map), made
   the C library's standard output. */
void uart_init(void);

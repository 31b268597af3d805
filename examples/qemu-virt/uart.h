#pragma once

#include <stdint.h>

/* The NS16550 UART of the virt board (address from the memory map). */
void uart_init(void);
void uart_puts(const char* text);
void uart_hex(uint32_t value);

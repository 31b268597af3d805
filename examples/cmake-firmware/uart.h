#pragma once

void uart_init(unsigned divisor);
void uart_puts(const char* text);

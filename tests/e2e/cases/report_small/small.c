/* The program of the report's unit tests: code, constants, initialised and
   zeroed data, and a stack. */
static const char message[] = "small";
int counter = 5;
int table[8];

void _start(void) {
  for (int i = 0; i < 8; ++i)
    table[i] = counter + message[i % 5];
  for (;;) {
  }
}

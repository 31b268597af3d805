/* Initialised data, small data, a function that runs from ITCM and the
   C library's heap, from __heap_start to __heap_end. */
#include <stdlib.h>

int counter = 42;
static int small;
const char message[] = "trial";

__attribute__((section(".fast"), noinline)) int fast_add(int a, int b) {
  return a + b + counter;
}

/* Where exit ends on a bare board. */
void _exit(int status) {
  (void)status;
  for (;;) {
  }
}

int main(void) {
  char *buffer = malloc(16);
  if (buffer)
    buffer[0] = message[0];
  small = fast_add(1, 2);
  return small;
}

/* Checks what the script and the start-up code do for a C program with
   picolibc: constructors in priority order, printf, malloc within the heap
   bounds, initialised data and small data reached through gp, .bss cleared.
   Exits with the bit mask of the failed checks (0: all passed). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static int order[4];
static int constructed;
__attribute__((constructor)) static void later(void) { order[constructed++] = 65535; }
__attribute__((constructor(101))) static void first(void) { order[constructed++] = 101; }

int small_data = 0x600dda7a;                      /* .sdata */
int large_data[32] = {1, 2, 3};                   /* .data */
int small_bss;                                    /* .sbss */
int large_bss[64];                                /* .bss */
extern char __heap_start[], __heap_end[], __global_pointer$[];

int main(void) {
  int failed = 0;
  if (!(constructed == 2 && order[0] == 101 && order[1] == 65535))
    failed |= 1;
  /* volatile: a compiler may drop an allocation whose result goes unused. */
  static char *volatile block, *volatile refused;
  block = malloc(100);
  if (!block || block < __heap_start || block + 100 > __heap_end)
    failed |= 2;
  /* More than the whole heap: sbrk must refuse it at __heap_end. */
  refused = malloc((size_t)(__heap_end - __heap_start));
  if (refused != NULL)
    failed |= 4;
  char *gp;
  __asm__("mv %0, gp" : "=r"(gp));
  intptr_t reach = (char *)&small_data - gp;
  if (gp != __global_pointer$ || reach < -2048 || reach > 2047 || small_data != 0x600dda7a ||
      large_data[2] != 3)
    failed |= 8;
  int bits = small_bss;
  for (int i = 0; i < 64; i++)
    bits |= large_bss[i];
  if (bits != 0)
    failed |= 16;
  printf("c: heap %p..%p, gp %p: %s\n", (void *)__heap_start, (void *)__heap_end, (void *)gp,
         failed ? "FAILED" : "pass");
  return failed;
}

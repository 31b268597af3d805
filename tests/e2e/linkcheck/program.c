/* A freestanding RV32 program with something in every kind of section the
 * generated scripts place, built with the default small-data settings so
 * small variables land in .sdata, .sbss and .srodata. */
typedef unsigned int u32;

const u32 table[4] = {1, 2, 3, 4};
volatile const u32 small_constant = 7;
u32 counter = 5;
u32 buffer[64] = {1};
u32 zeroes[64];
u32 small_zero;

#ifndef PLAIN
__attribute__((section(".vectors"), used)) const u32 vectors[2] = {0x11111111, 0x22222222};
__attribute__((section(".aligned"), used)) const u32 aligned_word = 0x33333333;

__attribute__((section(".fast"), noinline)) u32 fast_add(u32 a, u32 b) { return a + b; }
#else
static u32 fast_add(u32 a, u32 b) { return a + b; }
#endif

#ifdef RUNTIME
/* What a C runtime needs: thread-local data and zeros, a constructor table
 * after a section of odd length, a section to throw away, a handler that
 * replaces the script's default and a size that the script provides. */
__thread u32 tls_counter = 42;
__thread unsigned long long tls_zero;
static u32 constructed;
__attribute__((constructor)) static void construct(void) { constructed = 1; }
__attribute__((section(".odd"), used)) const char odd_byte = 1;
__attribute__((section(".discard_me"), used)) const u32 thrown_away = 1;
void handler(void) {}
extern char stack_size[];
#endif

void _start(void) {
  u32 sum = small_constant;
#ifdef RUNTIME
  handler();
  sum += tls_counter + (u32)tls_zero + constructed + (u32)stack_size;
#endif
  for (u32 i = 0; i < 4; ++i)
    sum = fast_add(sum, table[i]);
  buffer[1] = sum + counter;
  zeroes[2] = buffer[0];
  small_zero = sum;
  for (;;) {
  }
}

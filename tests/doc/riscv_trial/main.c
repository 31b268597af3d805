/* Initialised data, small data, a function that runs from ITCM and a heap
   that runs from __heap_start__ to __heap_end. */
extern char __heap_start__[], __heap_end[];

int counter = 42;
static int small;
const char message[] = "trial";

static char *heap_top = __heap_start__;

static void *allocate(unsigned size) {
  if (size > (unsigned)(__heap_end - heap_top))
    return 0;
  void *block = heap_top;
  heap_top += size;
  return block;
}

__attribute__((section(".fast"), noinline)) int fast_add(int a, int b) {
  return a + b + counter;
}

/* Where the start-up code of examples/qemu-virt goes after main. */
void virt_exit(unsigned failed) {
  (void)failed;
  for (;;) {
  }
}

int main(void) {
  char *buffer = allocate(16);
  if (buffer)
    buffer[0] = message[0];
  small = fast_add(1, 2);
  return small;
}

/* Thread-local storage: a variable with an initial value (.tdata) and a
   zero-initialised one (.tbss), reached through tp, plus errno, which
   picolibc keeps there too. Exits with the bit mask of the failed checks. */
#include <errno.h>
#include <stdio.h>

__thread int initialised = 0x7715da7a;
__thread int zeroed;
extern char __tdata_start__[], __tdata_end__[], __tbss_start__[], __tbss_end__[];

int main(void) {
  int failed = 0;
  if (initialised != 0x7715da7a)
    failed |= 1;
  if (zeroed != 0)
    failed |= 2;
  /* Reached through tp, they are where the script put the block. */
  char *a = (char *)&initialised, *b = (char *)&zeroed;
  if (a < __tdata_start__ || a >= __tdata_end__ || b < __tbss_start__ || b >= __tbss_end__)
    failed |= 4;
  zeroed = 5;
  errno = 7;
  if (zeroed != 5 || initialised != 0x7715da7a || errno != 7)
    failed |= 8;
  printf("tls: block at %p: %s\n", (void *)&initialised, failed ? "FAILED" : "pass");
  return failed;
}

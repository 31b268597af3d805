// A C++ global object whose constructor runs before main, built without
// exceptions, RTTI or the C++ library. Exits 0 when the constructor ran.
#include <stdio.h>

class Counter {
public:
  Counter(int start) : value_(start * 2) {}
  int value() const { return value_; }

private:
  int value_;
};

Counter counter(21);

int main() {
  int failed = counter.value() == 42 ? 0 : 1;
  printf("c++: global object %d: %s\n", counter.value(), failed ? "FAILED" : "pass");
  return failed;
}

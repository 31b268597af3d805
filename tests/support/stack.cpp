#include "support/stack.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

namespace {

void* runBody(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

}  // namespace

void runWithStack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attributes;
  pthread_t thread;
  if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, bytes) != 0 ||
      pthread_create(&thread, &attributes, runBody, const_cast<std::function<void()>*>(&body)) != 0) {
    std::fprintf(stderr, "runWithStack: cannot start a thread\n");
    std::abort();
  }
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

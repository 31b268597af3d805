// Runs test code on a thread with a stack of a chosen size, so that a test can
// show that deep or long input is handled within the stack the tool has.
#pragma once

#include <cstddef>
#include <functional>

// The default stack of the main thread on Linux.
constexpr std::size_t kDefaultStackBytes = 8 * 1024 * 1024;

// Runs `body` to its end on a new thread whose stack holds `bytes`.
void runWithStack(std::size_t bytes, const std::function<void()>& body);

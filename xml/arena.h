// A bump allocator for one document: its nodes, its file texts and the texts
// made while preprocessing it live here and go all at once with the arena.
//
// Design priority: reading costs no allocation per node. What is placed
// here is never destroyed one by one, so it must be trivially destructible.
#pragma once

#include <QString>
#include <cstddef>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

class Arena {
public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `bytes` bytes aligned to `alignment` (a power of two, at most that of
  // std::max_align_t).
  char* allocate(std::size_t bytes, std::size_t alignment = alignof(std::max_align_t));

  template <typename T, typename... Args>
  T* make(Args&&... args) {
    static_assert(std::is_trivially_destructible_v<T>, "the arena never runs destructors");
    return new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  }

  // A copy of `text` that lives as long as the arena.
  std::string_view copy(std::string_view text);

private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
};

// The bytes of `text` (one per character; see base/bytes.h), kept in `arena`.
std::string_view copyBytes(Arena& arena, const QString& text);

#include "xml/arena.h"

#include <cstdint>
#include <cstring>

#include "base/bytes.h"

namespace {

// Large enough that a document of a hundred thousand elements needs a few
// hundred blocks, small enough that a tiny file does not touch much memory.
constexpr std::size_t kBlockSize = 256 * 1024;

}  // namespace

char* Arena::allocate(std::size_t bytes, std::size_t alignment) {
  const std::size_t padding = (alignment - reinterpret_cast<std::uintptr_t>(next_) % alignment) % alignment;
  if (bytes + padding > left_) {
    // A request larger than a quarter block gets a block of its own, so the
    // current block keeps serving the small ones.
    if (bytes > kBlockSize / 4) {
      blocks_.emplace_back(new char[bytes]);
      return blocks_.back().get();
    }
    blocks_.emplace_back(new char[kBlockSize]);
    next_ = blocks_.back().get();
    left_ = kBlockSize;
    return allocate(bytes, alignment);
  }
  char* at = next_ + padding;
  next_ = at + bytes;
  left_ -= bytes + padding;
  return at;
}

std::string_view Arena::copy(std::string_view text) {
  if (text.empty())
    return {};
  char* at = allocate(text.size(), 1);
  std::memcpy(at, text.data(), text.size());
  return {at, text.size()};
}

std::string_view copyBytes(Arena& arena, const QString& text) {
  const QByteArray bytes = toBytes(text);
  return arena.copy(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

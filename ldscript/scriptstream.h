// The script is built as bytes. Names and attribute texts come straight from
// the XML tree (bytes) and go out unchanged; a QString is appended as Latin-1,
// so every character the tool reads maps back to the byte it came from.
//
// Without a sink the whole script stays in memory. With one, the text is
// handed to the sink in pieces of about kChunk bytes as it grows: a large
// script never needs its own size in memory, and each piece is still in the
// cache when it is copied out.
#pragma once

#include <QString>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

class QIODevice;

class ScriptStream {
public:
  static constexpr size_t kChunk = 256 * 1024;

  ScriptStream() = default;
  // Writes to `sink` (borrowed) as the text grows; see flush().
  explicit ScriptStream(QIODevice* sink) : sink_(sink) { reserve(kChunk + kChunk / 4); }
  ScriptStream(const ScriptStream&) = delete;
  ScriptStream& operator=(const ScriptStream&) = delete;

  // A literal: its length is known at compile time.
  template <size_t N>
  ScriptStream& operator<<(const char (&ascii)[N]) {
    return append(ascii, N - 1);
  }
  ScriptStream& operator<<(char c) { return append(&c, 1); }
  ScriptStream& operator<<(std::string_view bytes) { return append(bytes.data(), bytes.size()); }
  ScriptStream& operator<<(const std::string& bytes) { return append(bytes.data(), bytes.size()); }
  ScriptStream& operator<<(const QString& text);

  // Numbers the writer formats itself.
  struct Hex8 {  // 8 lower-case hexadecimal digits, no prefix
    uint32_t value;
  };
  struct Decimal {
    uint32_t value;
  };
  ScriptStream& operator<<(Hex8 number);
  ScriptStream& operator<<(Decimal number);

  // Hands what is buffered to the sink. False when any write to the sink
  // failed (nothing more is written after a failure).
  bool flush();

  // Without a sink: the whole text. With one: what is not yet flushed.
  std::string text() const { return std::string(data_.get(), used()); }

private:
  // Inline, so that appending a literal is a copy of known length: the
  // layout appends about sixty pieces per section. One comparison decides
  // between the copy and appendSlowly, which grows the buffer or hands a
  // full chunk to the sink.
  ScriptStream& append(const char* bytes, size_t size) {
    if (size == 0)  // an empty view may have no data at all
      return *this;
    if (size < static_cast<size_t>(limit_ - next_)) {
      std::memcpy(next_, bytes, size);
      next_ += size;
    } else {
      appendSlowly(bytes, size);
    }
    return *this;
  }
  void appendSlowly(const char* bytes, size_t size);
  size_t used() const { return static_cast<size_t>(next_ - data_.get()); }
  // Room for at least `size` bytes, growing geometrically.
  void reserve(size_t size);

  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  char* next_ = nullptr;  // where the next byte goes
  // The fast path of append stays below it: the end of the buffer, or with
  // a sink the end of the chunk.
  char* limit_ = nullptr;
  QIODevice* sink_ = nullptr;
  bool failed_ = false;
};

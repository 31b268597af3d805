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
#include <string>
#include <string_view>

class QIODevice;

class ScriptStream {
public:
  static constexpr size_t kChunk = 256 * 1024;

  ScriptStream() = default;
  // Writes to `sink` (borrowed) as the text grows; see flush().
  explicit ScriptStream(QIODevice* sink) : sink_(sink) { buffer_.reserve(kChunk + kChunk / 4); }
  ScriptStream(const ScriptStream&) = delete;
  ScriptStream& operator=(const ScriptStream&) = delete;

  // A literal: its length is known at compile time.
  template <size_t N>
  ScriptStream& operator<<(const char (&ascii)[N]) {
    return append(ascii, N - 1);
  }
  ScriptStream& operator<<(char c) {
    buffer_ += c;
    return *this;
  }
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
  const std::string& text() const { return buffer_; }
  std::string takeText() { return std::move(buffer_); }

private:
  ScriptStream& append(const char* bytes, size_t size) {
    buffer_.append(bytes, size);
    if (sink_ && buffer_.size() >= kChunk)
      flush();
    return *this;
  }

  std::string buffer_;
  QIODevice* sink_ = nullptr;
  bool failed_ = false;
};

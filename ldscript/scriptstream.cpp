#include "ldscript/scriptstream.h"

#include <QIODevice>

ScriptStream& ScriptStream::operator<<(const QString& text) {
  const size_t at = buffer_.size();
  buffer_.resize(at + static_cast<size_t>(text.size()));
  char* out = buffer_.data() + at;
  for (const QChar c : text)
    *out++ = c.unicode() <= 0xff ? static_cast<char>(c.unicode()) : '?';
  if (sink_ && buffer_.size() >= kChunk)
    flush();
  return *this;
}

ScriptStream& ScriptStream::operator<<(Hex8 number) {
  static const char kDigits[] = "0123456789abcdef";
  char digits[8];
  for (int i = 7; i >= 0; --i) {
    digits[i] = kDigits[number.value & 0xf];
    number.value >>= 4;
  }
  return append(digits, sizeof digits);
}

ScriptStream& ScriptStream::operator<<(Decimal number) {
  char digits[10];
  char* first = digits + sizeof digits;
  do {
    *--first = static_cast<char>('0' + number.value % 10);
    number.value /= 10;
  } while (number.value);
  return append(first, static_cast<size_t>(digits + sizeof digits - first));
}

bool ScriptStream::flush() {
  if (!sink_)
    return true;
  if (!failed_ && !buffer_.empty()) {
    const qint64 size = static_cast<qint64>(buffer_.size());
    failed_ = sink_->write(buffer_.data(), size) != size;
  }
  buffer_.clear();
  return !failed_;
}

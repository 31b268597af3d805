#include "ldscript/scriptstream.h"

#include <QIODevice>
#include <algorithm>

#include "base/hex.h"

ScriptStream& ScriptStream::operator<<(const QString& text) {
  const size_t size = static_cast<size_t>(text.size());
  if (size == 0)
    return *this;
  if (capacity_ - size_ < size)
    reserve(size_ + size);
  char* out = data_.get() + size_;
  for (const QChar c : text)
    *out++ = c.unicode() <= 0xff ? static_cast<char>(c.unicode()) : '?';
  size_ += size;
  if (sink_ && size_ >= kChunk)
    flush();
  return *this;
}

ScriptStream& ScriptStream::operator<<(Hex8 number) {
  char digits[kMaxHexDigits];
  return append(digits, hexDigits(number.value, 8, digits));
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
  if (!failed_ && size_ > 0) {
    const qint64 size = static_cast<qint64>(size_);
    failed_ = sink_->write(data_.get(), size) != size;
  }
  size_ = 0;
  return !failed_;
}

void ScriptStream::reserve(size_t size) {
  if (size <= capacity_)
    return;
  const size_t capacity = std::max(size, capacity_ + capacity_ / 2);
  std::unique_ptr<char[]> data(new char[capacity]);
  if (size_ > 0)
    std::memcpy(data.get(), data_.get(), size_);
  data_ = std::move(data);
  capacity_ = capacity;
}

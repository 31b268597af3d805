#include "ldscript/scriptstream.h"

#include <QIODevice>
#include <algorithm>

#include "base/hex.h"

ScriptStream& ScriptStream::operator<<(const QString& text) {
  const size_t size = static_cast<size_t>(text.size());
  if (size == 0)
    return *this;
  reserve(used() + size);
  char* out = next_;
  for (const QChar c : text)
    *out++ = c.unicode() <= 0xff ? static_cast<char>(c.unicode()) : '?';
  next_ = out;
  if (sink_ && used() >= kChunk)
    flush();
  return *this;
}

void ScriptStream::appendSlowly(const char* bytes, size_t size) {
  reserve(used() + size);
  std::memcpy(next_, bytes, size);
  next_ += size;
  if (sink_ && used() >= kChunk)
    flush();
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
  const size_t size = used();
  if (!failed_ && size > 0)
    failed_ = sink_->write(data_.get(), static_cast<qint64>(size)) != static_cast<qint64>(size);
  next_ = data_.get();
  return !failed_;
}

void ScriptStream::reserve(size_t size) {
  if (size <= capacity_)
    return;
  const size_t capacity = std::max(size, capacity_ + capacity_ / 2);
  const size_t kept = used();
  std::unique_ptr<char[]> data(new char[capacity]);
  if (kept > 0)
    std::memcpy(data.get(), data_.get(), kept);
  data_ = std::move(data);
  capacity_ = capacity;
  next_ = data_.get() + kept;
  limit_ = data_.get() + (sink_ ? std::min(kChunk, capacity_) : capacity_);
}

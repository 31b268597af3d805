#include "base/hex.h"

size_t hexDigits(uint64_t value, size_t minDigits, char* out, HexCase letters) {
  const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  size_t count = 1;
  while (count < kMaxHexDigits && value >> (4 * count))
    ++count;
  if (count < minDigits)
    count = minDigits;
  for (size_t i = count; i > 0; --i, value >>= 4)
    out[i - 1] = digits[value & 0xf];
  return count;
}

QString hexText(uint64_t value, size_t minDigits, HexCase letters) {
  char digits[kMaxHexDigits];
  const size_t count = hexDigits(value, minDigits, digits, letters);
  return QLatin1String("0x") + QLatin1String(digits, static_cast<qsizetype>(count));
}

void appendHex(QByteArray& out, uint64_t value, size_t minDigits) {
  char digits[kMaxHexDigits];
  const size_t count = hexDigits(value, minDigits, digits);
  out.append("0x", 2).append(digits, static_cast<qsizetype>(count));
}

#include "xml/expressions/value.h"

#include <QLocale>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

uint64_t doubleBits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

double bitsToDouble(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Narrowing a double that float cannot hold is undefined in C++; the IEEE
// answer (infinity of the same sign) is spelled out instead.
uint32_t singleBits(double value) {
  float narrowed;
  if (std::isnan(value))
    narrowed = std::signbit(value) ? -std::numeric_limits<float>::quiet_NaN()
                                   : std::numeric_limits<float>::quiet_NaN();
  else if (value > std::numeric_limits<float>::max())
    narrowed = std::numeric_limits<float>::infinity();
  else if (value < -std::numeric_limits<float>::max())
    narrowed = -std::numeric_limits<float>::infinity();
  else
    narrowed = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &narrowed, sizeof bits);
  return bits;
}

uint64_t lowBitsMask(int bits) {
  return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

int64_t signExtend(uint64_t payload, int bits) {
  if (bits <= 0 || bits >= 64)
    return static_cast<int64_t>(payload);
  const uint64_t sign = uint64_t{1} << (bits - 1);
  const uint64_t value = payload & lowBitsMask(bits);
  return static_cast<int64_t>((value ^ sign) - sign);
}

// Casting NaN, infinities or values outside int64_t to an integer is
// undefined in C++; they saturate instead, and NaN gives 0.
int64_t truncateToSigned(double value) {
  if (std::isnan(value))
    return 0;
  if (value >= 9223372036854775808.0)
    return std::numeric_limits<int64_t>::max();
  if (value < -9223372036854775808.0)
    return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

QString shortestText(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

Value Value::fromBool(bool value) {
  Value v;
  v.kind_ = Kind::Bool;
  v.payload_ = value ? 1 : 0;
  v.size_ = 1;
  return v;
}

Value Value::fromSigned(int64_t value, int size) {
  Value v;
  v.kind_ = Kind::Signed;
  v.payload_ = static_cast<uint64_t>(value);
  v.size_ = size;
  return v;
}

Value Value::fromUnsigned(uint64_t value, int size) {
  Value v;
  v.kind_ = Kind::Unsigned;
  v.payload_ = value;
  v.size_ = size;
  return v;
}

Value Value::fromFloat(double value, int size) {
  Value v;
  v.kind_ = Kind::Float;
  v.payload_ = doubleBits(value);
  v.size_ = size;
  return v;
}

Value Value::fromString(QString text) {
  Value v;
  v.kind_ = Kind::String;
  v.text_ = std::move(text);
  return v;
}

Value Value::reference(uint64_t address, int size) {
  Value v;
  v.kind_ = Kind::Reference;
  v.payload_ = address;
  v.size_ = size;
  return v;
}

bool Value::isIntegral() const {
  return kind_ == Kind::Bool || kind_ == Kind::Signed || kind_ == Kind::Unsigned;
}

bool Value::isNumeric() const { return isIntegral() || kind_ == Kind::Float; }

uint64_t Value::toUnsigned() const {
  switch (kind_) {
  case Kind::Bool:
    return payload_ != 0 ? 1 : 0;
  case Kind::Signed:
  case Kind::Unsigned:
    return payload_ & lowBitsMask(size_ * 8);
  case Kind::Float:
    return size_ == 4 ? singleBits(bitsToDouble(payload_)) : payload_;
  default:
    return payload_;
  }
}

int64_t Value::toSigned() const {
  switch (kind_) {
  case Kind::Bool:
    return payload_ != 0 ? 1 : 0;
  case Kind::Signed:
  case Kind::Unsigned:
    return signExtend(payload_, bitWidth_ != 0 ? bitWidth_ : size_ * 8);
  case Kind::Float:
    return truncateToSigned(bitsToDouble(payload_));
  default:
    return static_cast<int64_t>(payload_);
  }
}

double Value::toDouble() const {
  switch (kind_) {
  case Kind::Float:
    return bitsToDouble(payload_);
  case Kind::Unsigned:
    return static_cast<double>(toUnsigned());
  default:
    return static_cast<double>(toSigned());
  }
}

QString Value::toText() const {
  switch (kind_) {
  case Kind::Bool:
  case Kind::Signed:
    return QString::number(toSigned());
  case Kind::Unsigned:
    return QString::number(toUnsigned());
  case Kind::Float:
    return shortestText(toDouble());
  case Kind::String:
    return text_;
  default:
    return QString();
  }
}

QString Value::describe() const {
  const QString sized = QLatin1Char(':') + QString::number(size_) + QLatin1Char(' ');
  switch (kind_) {
  case Kind::Bool:
    return QLatin1String(payload_ != 0 ? "bool true" : "bool false");
  case Kind::Signed:
    return QLatin1String("signed") + sized + QString::number(toSigned());
  case Kind::Unsigned:
    return QLatin1String("unsigned") + sized + QString::number(toUnsigned());
  case Kind::Float:
    return QLatin1String("float") + sized + shortestText(toDouble());
  case Kind::String:
    return QLatin1String("string \"") + text_ + QLatin1Char('"');
  case Kind::Reference:
    return QLatin1String("reference") + sized + QLatin1String("0x") + QString::number(payload_, 16);
  case Kind::None:
    break;
  }
  return QStringLiteral("none");
}

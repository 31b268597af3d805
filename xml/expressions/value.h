// The typed result of every expression node.
#pragma once

#include <QString>
#include <cstdint>

class Value {
public:
  // The numbering is fixed: it is how kinds are talked about everywhere.
  enum class Kind { Bool = 0, Signed = 1, Unsigned = 2, String = 3, Reference = 4, Float = 5, None = 6 };

  Value() = default;
  static Value fromBool(bool value);  // size 1, as a C++ bool
  static Value fromSigned(int64_t value, int size = 8);
  static Value fromUnsigned(uint64_t value, int size = 8);
  static Value fromFloat(double value, int size = 8);
  static Value fromString(QString text);
  // A reference to an object: only a symbol hook can produce one.
  static Value reference(uint64_t address, int size);

  Kind kind() const { return kind_; }
  uint64_t payload() const { return payload_; }
  int size() const { return size_; }           // bytes: 1, 2, 4 or 8
  int bitWidth() const { return bitWidth_; }   // 0 unless a bit-field
  const QString& text() const { return text_; }
  void setBitWidth(int width) { bitWidth_ = width; }

  bool isIntegral() const;  // bool, signed or unsigned
  bool isNumeric() const;   // integral or floating point

  // Bool gives 0 or 1; an integer its payload zero-extended from its size; a
  // floating-point value its IEEE-754 bit pattern (single precision for size 4).
  uint64_t toUnsigned() const;
  // Bool gives 0 or 1; an integer is sign-extended from its bit width or size;
  // floating point is truncated toward zero (saturating, NaN gives 0).
  int64_t toSigned() const;
  // Bool and integers by their value (unsigned by the unsigned conversion).
  double toDouble() const;
  // The text a string comparison compares against: bool and integers in
  // decimal (bool as 1 or 0), floating point in its shortest exact form.
  QString toText() const;
  // Kind, size and value in one line, for tests and diagnostics:
  // "signed:8 -1", "unsigned:4 4294967295", "bool true", "float 1.5", "string \"a\"".
  QString describe() const;

private:
  Kind kind_ = Kind::None;
  uint64_t payload_ = 0;
  int size_ = 0;
  int bitWidth_ = 0;
  QString text_;
};

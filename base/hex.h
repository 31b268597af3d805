// Hexadecimal numbers, formatted one way for every tool and message: at
// least `minDigits` digits with zeros in front, lower case unless asked.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

enum class HexCase { Lower, Upper };

constexpr size_t kMaxHexDigits = 16;

// Writes the digits, without a prefix, to `out` (room for kMaxHexDigits);
// returns how many there are. `minDigits` is at most kMaxHexDigits.
size_t hexDigits(uint64_t value, size_t minDigits, char* out, HexCase letters = HexCase::Lower);

// "0x" and the digits.
QString hexText(uint64_t value, size_t minDigits = 1, HexCase letters = HexCase::Lower);
void appendHex(QByteArray& out, uint64_t value, size_t minDigits = 1);

// The integer literal routine shared by expression literals and by the
// memory-map attributes that take a plain number (alignment, register sizes).
//
// One routine serves both: a literal token of an expression holds only
// digits, hexadecimal letters, the "0x"/"0b" prefix and U/L suffixes, and on
// those characters the looser attribute reading below (blanks, signs, any
// character as a digit) gives the same value as a plain C reading.
#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>
#include <string_view>

// Reads an integer and never fails: reading stops without error at anything
// unexpected.
// - Leading white space is skipped, then one optional sign ("-" negates the
//   result at the end, "+" does nothing).
// - "0x" selects base 16 and "0b" base 2 (lowercase only); any other leading
//   "0" selects base 8; otherwise base 10. Nothing after the prefix gives 0.
// - Digits are read up to the end or a U or L in either case. Each character
//   counts as: '0'..'9' its value, 'a'..'z' 10 upwards, anything else its
//   distance from 'A' plus 10. Digits are not checked against the base.
// - The arithmetic is 64-bit and wraps.
// So "16", "0x10", "020", "0b10000" and "0x10UL" give 16, "010" gives 8, and
// "0X10" gives 2120 (base 8, X counted as the digit 33). Callers that keep 32
// bits take the low 32.
uint64_t parseIntegerLiteral(QStringView text);
// The same on bytes read as Latin-1, for attribute texts straight from the tree.
uint64_t parseIntegerLiteral(std::string_view bytes);

// The strict reading of the same routine, for a number mkld adds up itself
// (a section size for end placement): the whole text must be one plain
// number, "0x" or "0X" and hexadecimal digits, "0" and octal digits, or
// decimal digits, each digit within its base. Blanks, a sign, a suffix, "0b",
// an empty text or a value that needs more than 64 bits give nothing.
std::optional<uint64_t> parseStrictIntegerLiteral(std::string_view bytes);

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace segwork {

// Text of an integer field: optional sign and decimal digits within 32 bits. Anything else
// throws SegworkError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);
// A generator seed: decimal digits (leading zeros allowed) for 0..4294967295, otherwise a
// SegworkError.
uint32_t StrToSeed(const std::string& text);

// Text of a weight: decimal number with ',' or '.' as decimal point, optional exponent,
// surrounding blanks allowed, finite only. Otherwise throws
// "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

// Round to nearest, halves to even (the rounding used everywhere unless Floor or Ceil is meant).
int64_t RoundHalfEven(double value);

// Table text of a value rounded to two decimals: up to 15 significant digits, no exponent,
// no trailing zeros, with the given decimal separator (12.5 -> "12.5", 0 -> "0").
std::string TwoDecimalText(double value, char decimalSeparator = '.');

}  // namespace segwork

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

// The largest magnitude of a street weight: a neighbourhood's sums of weights stay finite for any
// grid a setup can hold, where 1e308 would make them infinite and every share undefined.
inline constexpr double kLargestWeight = 1e100;
// Text of a street weight: StrToFloat, and a magnitude of at most kLargestWeight, otherwise
// "'<text>' is too large a weight: at most 1e100 either way".
double StrToWeight(std::string_view text);

// Round to nearest, halves to even (the rounding used everywhere unless Floor or Ceil is meant).
int64_t RoundHalfEven(double value);

// Table text of a value rounded to two decimals: up to 15 significant digits, no exponent,
// no trailing zeros, with the given decimal separator (12.5 -> "12.5", 0 -> "0").
std::string TwoDecimalText(double value, char decimalSeparator = '.');

}  // namespace segwork

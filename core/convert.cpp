#include "core/convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/errors.h"

namespace segwork {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void FailInteger(std::string_view text) {
  throw SegworkError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void FailFloat(std::string_view text) {
  throw SegworkError("'" + std::string(text) + "' is not a valid floating point value");
}

}  // namespace

int32_t StrToInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) FailInteger(text);
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) FailInteger(text);
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) FailInteger(text);
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) FailInteger(text);
  return static_cast<int32_t>(value);
}

double StrToFloat(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  // Validate the grammar ourselves: from_chars alone would take "inf", "nan" and hex.
  std::string number;
  size_t i = begin;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') number += '-';
    ++i;
  }
  size_t digits = 0;
  while (i < end && IsDigit(text[i])) number += text[i++], ++digits;
  if (i < end && (text[i] == '.' || text[i] == ',')) {
    number += '.';
    ++i;
    while (i < end && IsDigit(text[i])) number += text[i++], ++digits;
  }
  if (digits == 0) FailFloat(text);
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    number += 'e';
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) number += text[i++];
    size_t exponentDigits = 0;
    while (i < end && IsDigit(text[i])) number += text[i++], ++exponentDigits;
    if (exponentDigits == 0) FailFloat(text);
  }
  if (i != end) FailFloat(text);
  double value = 0;
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size() ||
      !std::isfinite(value)) {
    FailFloat(text);
  }
#else
  // Without from_chars for doubles (libc++ 14): strtod, correctly rounded too, on the text checked
  // above, refusing what from_chars refuses: an overflow, and a nonzero number that underflows
  // to zero (subnormals are accepted).
  value = std::strtod(number.c_str(), nullptr);
  const size_t mantissaEnd = std::min(number.find('e'), number.size());
  const bool nonzero = number.find_first_of("123456789") < mantissaEnd;
  if (!std::isfinite(value) || (value == 0 && nonzero)) FailFloat(text);
#endif
  return value;
}

double StrToWeight(std::string_view text) {
  const double value = StrToFloat(text);
  if (std::fabs(value) > kLargestWeight) {
    throw SegworkError("'" + std::string(text) +
                       "' is too large a weight: at most 1e100 either way");
  }
  return value;
}

int64_t RoundHalfEven(double value) {
  return static_cast<int64_t>(std::nearbyint(value));
}

std::string TwoDecimalText(double value, char decimalSeparator) {
  const double hundredths = std::nearbyint(value / 0.01);
  // The table shows up to a million of these a step. Below 10^14 hundredths the printed text is
  // exactly the decimal k / 100, so it is written from the integer directly.
  if (std::fabs(hundredths) < 1e14) {
    const long long k = std::llabs(static_cast<long long>(hundredths));
    std::string text = hundredths < 0 ? "-" : "";
    text += std::to_string(k / 100);
    if (const int cents = int(k % 100); cents != 0) {
      text += decimalSeparator;
      text += char('0' + cents / 10);
      if (cents % 10 != 0) text += char('0' + cents % 10);
    }
    return text;
  }
  double rounded = hundredths * 0.01;
  if (rounded == 0) rounded = 0;  // no "-0"
  char buffer[64];
  if (std::fabs(rounded) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.15g", rounded);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.0f", rounded);
  }
  std::string text = buffer;
  for (char& c : text) {
    if (c == '.') c = decimalSeparator;
  }
  return text;
}

uint32_t StrToSeed(const std::string& text) {
  // Only the digits after leading zeros count.
  const size_t first = std::min(text.find_first_not_of('0'), text.size());
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() - first > 10 || std::stoull("0" + text.substr(first)) > UINT32_MAX) {
    throw SegworkError("'" + text + "' is not a valid seed: give an integer 0..4294967295");
  }
  return uint32_t(std::stoull("0" + text.substr(first)));
}

}  // namespace segwork

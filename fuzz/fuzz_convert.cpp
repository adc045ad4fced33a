// The text conversions: any text either converts or is refused with the system's own message,
// and what is accepted survives a round trip.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/convert.h"
#include "core/errors.h"

namespace {

using segwork::SegworkError;

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "property failed: %s for text of %zu bytes: '%.*s'\n", what, text.size(),
               int(text.size()), text.data());
  std::abort();
}

template <typename T, typename F>
std::optional<T> Convert(F convert, std::string_view text, const std::string& suffix) {
  try {
    return convert(text);
  } catch (const SegworkError& e) {
    // what() is a C string: a NUL in the text ends the message there.
    const std::string expected = "'" + std::string(text) + suffix;
    if (e.what() != expected.substr(0, expected.find('\0'))) Fail("wrong message", text);
    if (!e.Caption().empty()) Fail("caption on a conversion error", text);
    return std::nullopt;
  }
}

std::optional<int32_t> Int(std::string_view text) {
  return Convert<int32_t>(segwork::StrToInt, text, "' is not a valid integer value");
}

std::optional<double> Float(std::string_view text) {
  return Convert<double>(segwork::StrToFloat, text, "' is not a valid floating point value");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The integer grammar written out independently: sign, digits, value within 32 bits.
std::optional<int64_t> ExpectedInt(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return std::nullopt;
  for (size_t j = i; j < text.size(); ++j) {
    if (!IsDigit(text[j])) return std::nullopt;
  }
  while (i + 1 < text.size() && text[i] == '0') ++i;  // leading zeros do not count towards size
  if (text.size() - i > 10) return std::nullopt;
  int64_t v = std::strtoll(std::string(text.substr(i)).c_str(), nullptr, 10);
  if (text[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return v;
}

void CheckInt(std::string_view text) {
  const std::optional<int32_t> got = Int(text);
  const std::optional<int64_t> expected = ExpectedInt(text);
  if (got.has_value() != expected.has_value()) Fail("integer accepted/refused wrongly", text);
  if (!got) return;
  if (*got != *expected) Fail("integer value differs", text);
  // Its own text, and with a '+' sign, read back to the same value.
  const std::string again = std::to_string(*got);
  if (Int(again) != got) Fail("integer round trip", text);
  if (*got >= 0 && Int("+" + again) != got) Fail("integer round trip with '+'", text);
}

// The weight grammar: blanks around, sign, digits with ',' or '.', exponent. Returns the text in
// the C locale's form for strtod, or nothing when the grammar refuses it.
std::optional<std::string> FloatGrammar(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string s(text.substr(b, e - b));
  size_t i = 0, digits = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    s[i++] = '.';
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  return s;
}

void CheckFloat(std::string_view text) {
  const std::optional<double> got = Float(text);
  const std::optional<std::string> grammar = FloatGrammar(text);
  if (got && !grammar) Fail("float accepted against the grammar", text);
  if (!grammar) return;
  errno = 0;
  const double reference = std::strtod(grammar->c_str(), nullptr);
  const bool rangeError = errno == ERANGE;
  if (!got) {
    // Only a value beyond the double range (or one that underflows) may be refused.
    if (!rangeError && std::isfinite(reference)) Fail("float in range refused", text);
    return;
  }
  if (!std::isfinite(*got)) Fail("float not finite", text);
  if (!rangeError && *got != reference) Fail("float value differs from strtod", text);
  // The shortest exact text, with either decimal point, reads back to the same value.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", *got);
  if (Float(buffer) != got) Fail("float round trip", text);
  std::string comma = buffer;
  for (char& c : comma) {
    if (c == '.') c = ',';
  }
  if (Float(" " + comma + " ") != got) Fail("float round trip with ','", text);
}

// The table text of a value: no exponent, no "-0", the separator asked for, and it reads back
// within half a hundredth.
void CheckTwoDecimals(double value, std::string_view text) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e12) return;
  const std::string dot = segwork::TwoDecimalText(value, '.');
  const std::string comma = segwork::TwoDecimalText(value, ',');
  if (dot.find_first_of("eE") != std::string::npos) Fail("exponent in table text", text);
  if (dot == "-0") Fail("table text -0", text);
  if (comma.find('.') != std::string::npos) Fail("'.' in a ',' table text", text);
  const std::optional<double> back = Float(dot);
  if (!back) Fail("table text does not parse", text);
  if (Float(comma) != back) Fail("separators give different values", text);
  if (std::fabs(*back - value) > 0.005 + 1e-9 * std::fabs(value)) {
    Fail("table text off by more than rounding", text);
  }
}

void CheckRounding(double value, std::string_view text) {
  if (!std::isfinite(value) || std::fabs(value) > 0x1p62) return;
  const int64_t r = segwork::RoundHalfEven(value);
  const double d = value - double(r);
  if (std::fabs(d) > 0.5) Fail("rounding further than a half", text);
  if (std::fabs(d) == 0.5 && r % 2 != 0) Fail("half not rounded to even", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckInt(text);
  CheckFloat(text);
  // The raw bytes as a double too, so extreme values reach the formatting.
  if (size >= sizeof(double)) {
    double raw;
    std::memcpy(&raw, data, sizeof raw);
    CheckTwoDecimals(raw, text);
    CheckRounding(raw, text);
  }
  if (const std::optional<std::string> grammar = FloatGrammar(text)) {
    const double value = std::strtod(grammar->c_str(), nullptr);
    CheckTwoDecimals(value, text);
    CheckRounding(value, text);
  }
  return 0;
}

#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace segwork {

// What a file's JSON may hold. The scenario needs four levels (street_lines[i].start[j]) and a
// saved run's header five; the values are far more than any grid's rows and lines.
struct JsonLimits {
  int depth = 8;
  size_t values = size_t(1) << 22;
};

// Why a text was not taken: `syntax` for text that is not JSON (`what` is the parser's message
// without its bracketed id), otherwise a limit or a duplicate key at `key` (as
// street_lines[0].start).
class JsonRefusal : public std::runtime_error {
 public:
  JsonRefusal(bool syntax, std::string key, const std::string& what)
      : std::runtime_error(what), syntax_(syntax), key_(std::move(key)) {}
  bool Syntax() const { return syntax_; }
  const std::string& Key() const { return key_; }

 private:
  bool syntax_;
  std::string key_;
};

// Parses a JSON text through a SAX handler that builds the value itself: nesting deeper than the
// limit, more values than the limit and a key given twice in one object are refused while
// parsing, before anything deep or ambiguous is built. Throws JsonRefusal; nothing it builds is
// deeper than limits.depth, so copying, comparing or writing the result cannot exhaust the stack.
nlohmann::ordered_json ParseJsonText(std::string_view text, const JsonLimits& limits = {});

}  // namespace segwork

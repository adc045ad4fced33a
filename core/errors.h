#pragma once

#include <stdexcept>
#include <string>

namespace segwork {

// The one failure type of the core. Its message is what the user sees; the caption names the
// box: empty for the standard error box, "missing value" for a missing choice.
class SegworkError : public std::runtime_error {
 public:
  explicit SegworkError(const std::string& message, std::string caption = {})
      : std::runtime_error(message), caption_(std::move(caption)) {}
  const std::string& Caption() const { return caption_; }

 private:
  std::string caption_;
};

inline constexpr const char* kMissingValueCaption = "missing value";

}  // namespace segwork

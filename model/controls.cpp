#include "model/controls.h"

#include <cmath>

#include "model/convert.h"

namespace segwork {

const char* FieldName(Field f) {
  static const char* const names[kFieldCount] = {
      "Edit_anzAg", "Edit_cellSiz", "Edit_anzGr", "Edit_nRad",       "Edit_mDist",
      "E_stopT",    "E_nbSize",     "E_clusterT", "E_startGrowWith", "E_growRate",
  };
  return names[static_cast<int>(f)];
}

std::string CheckAgentCount(const std::string& text, int32_t rowCount, int32_t colCount) {
  const int64_t value = StrToInt(text);
  const int64_t cells = int64_t{rowCount} * colCount;
  // In 64 bits, so that a negative entry is never replaced.
  if (value > cells) {
    return std::to_string(cells - RoundHalfEven(0.05 * static_cast<double>(cells)));
  }
  return {};
}

std::string CheckCellSize(const std::string& text, int32_t panelWidth) {
  int64_t value = StrToInt(text);
  const double limit = panelWidth / 20.0;
  std::string replacement;
  if (static_cast<double>(value) > limit) {
    value = static_cast<int64_t>(std::floor(limit));
    replacement = std::to_string(value);
  }
  if (value < 1) replacement = "1";
  return replacement;
}

std::string CheckAtLeastOne(const std::string& text) {
  if (StrToInt(text) < 1) return "1";
  return {};
}

std::string CheckMoveDistance(const std::string& text, int32_t rowCount) {
  int64_t value = StrToInt(text);
  const double limit = rowCount / 2.0;
  std::string replacement;
  if (static_cast<double>(value) > limit) {
    value = static_cast<int64_t>(std::floor(limit)) - 1;
    replacement = std::to_string(value);
  }
  if (value < 1) replacement = "1";
  return replacement;
}

}  // namespace segwork

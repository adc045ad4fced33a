#include "core/controls.h"

#include <cmath>

#include "core/convert.h"

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

void CheckControls(ControlValues& controls, int32_t panelWidth, int32_t panelHeight,
                   const std::function<void(Field, const std::string&)>& rewritten) {
  auto apply = [&](Field field, const std::string& replacement) {
    if (replacement.empty()) return;
    const std::string before = controls.Text(field);
    controls.Rewrite(field, replacement);
    if (replacement != before) rewritten(field, before);
  };
  apply(Field::Edit_cellSiz, CheckCellSize(controls.Text(Field::Edit_cellSiz), panelWidth));
  const int32_t cellSize = StrToInt(controls.Text(Field::Edit_cellSiz));
  const auto cols = int32_t(RoundHalfEven(double(panelWidth) / cellSize));
  const auto rows = int32_t(RoundHalfEven(double(panelHeight) / cellSize));
  for (Field f : {Field::Edit_anzAg}) apply(f, CheckAgentCount(controls.Text(f), rows, cols));
  for (Field f : {Field::Edit_anzGr, Field::Edit_nRad}) apply(f, CheckAtLeastOne(controls.Text(f)));
  apply(Field::Edit_mDist, CheckMoveDistance(controls.Text(Field::Edit_mDist), rows));
  for (Field f : {Field::E_startGrowWith, Field::E_growRate}) {
    apply(f, CheckAgentCount(controls.Text(f), rows, cols));
  }
}

}  // namespace segwork

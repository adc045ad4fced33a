#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace segwork {

enum class EmptyCellRule { DoNotCount, CountAsDifferent, CountAsSimilar };

// The edit fields the model reads as text.
enum class Field {
  Edit_anzAg,
  Edit_cellSiz,
  Edit_anzGr,
  Edit_nRad,
  Edit_mDist,
  E_stopT,
  E_nbSize,
  E_clusterT,
  E_startGrowWith,
  E_growRate,
};
inline constexpr int kFieldCount = 10;

// Everything the model reads from the main window's controls: edit texts, check states, the radio
// choice, track bar and spinner positions and the weight-table texts. The desktop program writes
// into it on every change; the CLI fills it from options. The model reads some values at setup and
// some at the moment of use, converting texts when it reads them.
struct ControlValues {
  std::array<std::string, kFieldCount> texts = {
      "12000", "6", "6", "5", "54", "500", "20", "1", "100", "10",
  };
  std::string& Text(Field f) { return texts[static_cast<int>(f)]; }
  const std::string& Text(Field f) const { return texts[static_cast<int>(f)]; }

  bool CB_graphicUpd = true;
  bool CB_strOcc = false;
  bool CB_actiGrow = false;
  bool CB_hideAgs = true;
  bool CB_rndTyp = true;
  EmptyCellRule emptyCellRule = EmptyCellRule::DoNotCount;
  int32_t TrB_thresh = 30;

  // Spinner positions of the layout group (16-bit signed).
  int16_t UpD_rows = 5;
  int16_t UpD_cols = 5;
  int16_t UpD_nrStr = 20;
  int16_t UpD_strType = 3;

  // Selected item of CB_strType, -1 when none is selected.
  int32_t CB_strType = -1;

  // SG_weight as [column][row], 2 columns x 8 rows; column 1 of rows 1..7 holds the weights of
  // the types -3..+3.
  std::array<std::array<std::string, 8>, 2> SG_weight = {{
      {"Type", "-3", "-2", "-1", "0", "+1", "+2", "+3"},
      {"Weight", "0", "0,33", "0,67", "1", "2", "4", "8"},
  }};

  // Told whenever the model rewrites a field (edit checks, experiments setting a swept value),
  // so a window can show the new text.
  std::function<void(Field)> onFieldRewritten;

  void Rewrite(Field f, std::string text) {
    Text(f) = std::move(text);
    if (onFieldRewritten) onFieldRewritten(f);
  }
};

const char* FieldName(Field f);

// The eight fields that take typed digits only.
inline constexpr std::array<Field, 8> kDigitsOnlyFields = {
    Field::Edit_anzAg, Field::Edit_cellSiz, Field::Edit_anzGr, Field::Edit_nRad,
    Field::Edit_mDist, Field::E_stopT,      Field::E_clusterT, Field::E_nbSize,
};

// The edit checks: each converts the text (throwing on a non-integer), compares, and returns the
// replacement text, or an empty string when the text stands. Grid sizes are those of the last
// setup.
std::string CheckAgentCount(const std::string& text, int32_t rowCount, int32_t colCount);
std::string CheckCellSize(const std::string& text, int32_t panelWidth);
std::string CheckAtLeastOne(const std::string& text);
std::string CheckMoveDistance(const std::string& text, int32_t rowCount);

// Every edit check, in the order of the setup tab, against the grid that the cell size makes on a
// panel of the given size; `rewritten` is told the field and its text before each rewrite.
void CheckControls(ControlValues& controls, int32_t panelWidth, int32_t panelHeight,
                   const std::function<void(Field, const std::string&)>& rewritten);

}  // namespace segwork

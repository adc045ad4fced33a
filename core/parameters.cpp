#include "core/parameters.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

#include "core/convert.h"

namespace segwork {

namespace {

// The accessors of a row: an edit field's text, a position, a flag, a weight row's text.
template <Field F>
std::string GetText(const ControlValues& c) {
  return c.Text(F);
}
template <Field F>
void SetText(ControlValues& c, const std::string& v) {
  c.Text(F) = v;
}
template <auto Member>
std::string GetPosition(const ControlValues& c) {
  return std::to_string(c.*Member);
}
// A position is set from its text by the face that converts it (and says when it clamps).
template <auto Member>
void SetPosition(ControlValues& c, const std::string& v) {
  c.*Member = std::remove_reference_t<decltype(c.*Member)>(StrToInt(v));
}
template <bool ControlValues::*Member>
std::string GetFlag(const ControlValues& c) {
  return c.*Member ? "yes" : "no";
}
template <bool ControlValues::*Member>
void SetFlag(ControlValues& c, const std::string& v) {
  c.*Member = v == "yes";
}
template <size_t Row>
std::string GetWeight(const ControlValues& c) {
  return c.SG_weight[1][Row];
}
template <size_t Row>
void SetWeight(ControlValues& c, const std::string& v) {
  c.SG_weight[1][Row] = v;
}
constexpr std::array<const char*, 3> kRuleWords = {"no", "different", "similar"};
std::string GetRule(const ControlValues& c) {
  return kRuleWords[size_t(c.emptyCellRule)];
}
void SetRule(ControlValues& c, const std::string& v) {
  for (size_t i = 0; i < kRuleWords.size(); ++i) {
    if (v == kRuleWords[i]) c.emptyCellRule = EmptyCellRule(i);
  }
}

using K = ParameterKind;
using CV = ControlValues;

std::vector<Parameter> MakeTable() {
  // The file order is that of the controls in ControlValues; the help order is this list's.
  return {
      {"steps",
       "E_stopT",
       K::Text,
       ReadAt::Setup,
       "time steps to run after the setup",
       "N",
       0,
       0,
       {},
       {},
       5,
       GetText<Field::E_stopT>,
       SetText<Field::E_stopT>},
      {"agents",
       "Edit_anzAg",
       K::Text,
       ReadAt::Setup,
       "number of agents (Edit_anzAg)",
       "N",
       0,
       0,
       {},
       {},
       0,
       GetText<Field::Edit_anzAg>,
       SetText<Field::Edit_anzAg>},
      {"cell-size",
       "Edit_cellSiz",
       K::Text,
       ReadAt::Setup,
       "cell size in pixels (Edit_cellSiz)",
       "N",
       0,
       0,
       {},
       {},
       1,
       GetText<Field::Edit_cellSiz>,
       SetText<Field::Edit_cellSiz>},
      {"groups",
       "Edit_anzGr",
       K::Text,
       ReadAt::Setup,
       "number of groups (Edit_anzGr)",
       "N",
       0,
       0,
       {},
       {},
       2,
       GetText<Field::Edit_anzGr>,
       SetText<Field::Edit_anzGr>},
      {"radius",
       "Edit_nRad",
       K::Text,
       ReadAt::Setup,
       "neighbourhood radius (Edit_nRad)",
       "N",
       0,
       0,
       {},
       {},
       3,
       GetText<Field::Edit_nRad>,
       SetText<Field::Edit_nRad>},
      {"move-distance",
       "Edit_mDist",
       K::Text,
       ReadAt::Setup,
       "move distance (Edit_mDist)",
       "N",
       0,
       0,
       {},
       {},
       4,
       GetText<Field::Edit_mDist>,
       SetText<Field::Edit_mDist>},
      {"threshold",
       "TrB_thresh",
       K::Position,
       ReadAt::Setup,
       "tolerance threshold in percent (TrB_thresh)",
       "N",
       0,
       100,
       {},
       {},
       16,
       GetPosition<&CV::TrB_thresh>,
       SetPosition<&CV::TrB_thresh>},
      {"empty-cells",
       "empty_cells",
       K::Choice,
       ReadAt::Use,
       "how empty cells count",
       nullptr,
       0,
       0,
       kRuleWords,
       {"do not count", "count as different", "count as similar"},
       15,
       GetRule,
       SetRule},
      {"street-occupation",
       "CB_strOcc",
       K::Flag,
       ReadAt::Use,
       "allow street occupation (CB_strOcc)",
       nullptr,
       0,
       0,
       {},
       {},
       11,
       GetFlag<&CV::CB_strOcc>,
       SetFlag<&CV::CB_strOcc>},
      {"grow",
       "CB_actiGrow",
       K::Flag,
       ReadAt::Use,
       "activate growth (CB_actiGrow)",
       nullptr,
       0,
       0,
       {},
       {},
       12,
       GetFlag<&CV::CB_actiGrow>,
       SetFlag<&CV::CB_actiGrow>},
      {"grow-start",
       "E_startGrowWith",
       K::Text,
       ReadAt::Setup,
       "start with agents (E_startGrowWith)",
       "N",
       0,
       0,
       {},
       {},
       8,
       GetText<Field::E_startGrowWith>,
       SetText<Field::E_startGrowWith>},
      {"grow-rate",
       "E_growRate",
       K::Text,
       ReadAt::Use,
       "agents added per step (E_growRate)",
       "N",
       0,
       0,
       {},
       {},
       9,
       GetText<Field::E_growRate>,
       SetText<Field::E_growRate>},
      {"tile-size",
       "E_nbSize",
       K::Text,
       ReadAt::Setup,
       "side of the analysis tiles (E_nbSize)",
       "N",
       0,
       0,
       {},
       {},
       6,
       GetText<Field::E_nbSize>,
       SetText<Field::E_nbSize>},
      {"cluster-threshold",
       "E_clusterT",
       K::Text,
       ReadAt::Use,
       "cluster threshold (E_clusterT)",
       "N",
       0,
       0,
       {},
       {},
       7,
       GetText<Field::E_clusterT>,
       SetText<Field::E_clusterT>},
      {"rows",
       "UpD_rows",
       K::Position,
       ReadAt::Use,
       "grid layout rows (UpD_rows)",
       "N",
       1,
       10000,
       {},
       {},
       17,
       GetPosition<&CV::UpD_rows>,
       SetPosition<&CV::UpD_rows>},
      {"cols",
       "UpD_cols",
       K::Position,
       ReadAt::Use,
       "grid layout columns (UpD_cols)",
       "N",
       1,
       10000,
       {},
       {},
       18,
       GetPosition<&CV::UpD_cols>,
       SetPosition<&CV::UpD_cols>},
      {"streets",
       "UpD_nrStr",
       K::Position,
       ReadAt::Use,
       "random layout streets (UpD_nrStr)",
       "N",
       1,
       10000,
       {},
       {},
       19,
       GetPosition<&CV::UpD_nrStr>,
       SetPosition<&CV::UpD_nrStr>},
      {"street-type",
       "UpD_strType",
       K::Position,
       ReadAt::Use,
       "street type -3..3 (UpD_strType)",
       "T",
       -3,
       3,
       {},
       {},
       20,
       GetPosition<&CV::UpD_strType>,
       SetPosition<&CV::UpD_strType>},
      {"random-types",
       "CB_rndTyp",
       K::YesNo,
       ReadAt::Use,
       "random street types (CB_rndTyp)",
       nullptr,
       0,
       0,
       {},
       {},
       14,
       GetFlag<&CV::CB_rndTyp>,
       SetFlag<&CV::CB_rndTyp>},
      // Controls the command line sets otherwise (the weights through --weights) or not at all.
      {"graphic",
       "CB_graphicUpd",
       K::Flag,
       ReadAt::Setup,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       10,
       GetFlag<&CV::CB_graphicUpd>,
       SetFlag<&CV::CB_graphicUpd>},
      {"hide-agents",
       "CB_hideAgs",
       K::Flag,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       13,
       GetFlag<&CV::CB_hideAgs>,
       SetFlag<&CV::CB_hideAgs>},
      {"draw-type",
       "CB_strType",
       K::Position,
       ReadAt::Use,
       nullptr,
       nullptr,
       -1,
       5,
       {},
       {},
       21,
       GetPosition<&CV::CB_strType>,
       SetPosition<&CV::CB_strType>},
      {"weight-m3",
       "-3",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       22,
       GetWeight<1>,
       SetWeight<1>},
      {"weight-m2",
       "-2",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       23,
       GetWeight<2>,
       SetWeight<2>},
      {"weight-m1",
       "-1",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       24,
       GetWeight<3>,
       SetWeight<3>},
      {"weight-0",
       "0",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       25,
       GetWeight<4>,
       SetWeight<4>},
      {"weight-p1",
       "+1",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       26,
       GetWeight<5>,
       SetWeight<5>},
      {"weight-p2",
       "+2",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       27,
       GetWeight<6>,
       SetWeight<6>},
      {"weight-p3",
       "+3",
       K::Weight,
       ReadAt::Use,
       nullptr,
       nullptr,
       0,
       0,
       {},
       {},
       28,
       GetWeight<7>,
       SetWeight<7>},
  };
}

}  // namespace

std::string Parameter::PythonName() const {
  std::string python = name;
  for (char& c : python) {
    if (c == '-') c = '_';
  }
  return python;
}

std::optional<Field> Parameter::EditField() const {
  for (int f = 0; f < kFieldCount; ++f) {
    if (kind == ParameterKind::Text && std::string_view(control) == FieldName(Field(f))) {
      return Field(f);
    }
  }
  return std::nullopt;
}

const std::vector<Parameter>& Parameters() {
  static const std::vector<Parameter> table = MakeTable();
  return table;
}

const std::vector<const Parameter*>& ParametersInFileOrder() {
  static const std::vector<const Parameter*> order = [] {
    std::vector<const Parameter*> rows;
    for (const Parameter& p : Parameters()) rows.push_back(&p);
    std::stable_sort(rows.begin(), rows.end(), [](const Parameter* a, const Parameter* b) {
      return a->fileOrder < b->fileOrder;
    });
    return rows;
  }();
  return order;
}

const Parameter* FindParameter(std::string_view name) {
  for (const Parameter& p : Parameters()) {
    if (name == p.name || name == p.PythonName()) return &p;
  }
  return nullptr;
}

const Parameter& ParameterNamed(std::string_view name) {
  const Parameter* p = FindParameter(name);
  if (!p) throw std::logic_error("no run parameter is named " + std::string(name));
  return *p;
}

const Parameter* ParameterOfControl(std::string_view control) {
  for (const Parameter& p : Parameters()) {
    if (control == p.control) return &p;
  }
  return nullptr;
}

const Parameter& ParameterNamedByControl(std::string_view control) {
  const Parameter* p = ParameterOfControl(control);
  if (!p) throw std::logic_error("no run parameter has the control " + std::string(control));
  return *p;
}

std::string VariableParameterNames() {
  std::string names;
  for (const Parameter& p : Parameters()) {
    if (std::string_view(p.name) != "steps")
      names += (names.empty() ? "" : ", ") + std::string(p.name);
  }
  return names;
}

}  // namespace segwork

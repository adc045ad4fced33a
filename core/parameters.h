#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/controls.h"

namespace segwork {

// How a parameter's control holds its value, and so how each face reads and writes it.
enum class ParameterKind {
  Text,      // an edit field: its text, converted when the run reads it
  Position,  // a spinner or the track bar: an integer held within its range
  Choice,    // radio buttons: one of `words`
  Flag,      // a check box
  YesNo,     // a check box that the command line sets with yes or no
  Weight,    // a row of the weight table: its text
};

// When a run reads the control: at "new Setup", or each time it is used.
enum class ReadAt { Setup, Use };

// One run parameter, every face's name for it and how its control holds it. The command line's
// options and help, the scenario files, the sweeps' identities and the window's connections are
// made from this table: a new parameter is a row here and its widget's place in a window.
struct Parameter {
  // The command line's option without its dashes, also the name an experiment varies. Its
  // Python keyword is this name with '_' for '-'.
  const char* name;
  // The widget's objectName; also the parameter's key under "controls" in a scenario (a weight
  // row's key is its type under "SG_weight").
  const char* control;
  ParameterKind kind;
  ReadAt read;
  // The command line's description; nullptr: the command line has no option of its own for it.
  const char* help;
  const char* typeName;       // the option's value in --help
  int32_t low = 0, high = 0;  // Position: the control's range
  // Choice: the command line's texts and the scenario's texts, in the order of the values.
  std::array<const char*, 3> words{};
  std::array<const char*, 3> fileWords{};
  // Where the parameter stands in a scenario's "controls", which keeps the controls' own order.
  int fileOrder = 0;

  // The value as the command line and the experiments write it, and back.
  std::string (*get)(const ControlValues&) = nullptr;
  void (*set)(ControlValues&, const std::string&) = nullptr;

  std::string PythonName() const;
  // The edit field of a Text row.
  std::optional<Field> EditField() const;
  std::string Default() const { return get(ControlValues{}); }
  bool HasOption() const { return help != nullptr; }
};

// Every run parameter, in the order of the command line's help.
const std::vector<Parameter>& Parameters();
// The same in the order of a scenario's "controls".
const std::vector<const Parameter*>& ParametersInFileOrder();
// The row of a name (the option's, or its Python keyword); nullptr when there is none.
const Parameter* FindParameter(std::string_view name);
// The row of a name the code itself uses; a name not in the table is a fault of the program.
const Parameter& ParameterNamed(std::string_view name);
// The row of a control's objectName (or a weight row's type); nullptr when there is none.
const Parameter* ParameterOfControl(std::string_view control);
const Parameter& ParameterNamedByControl(std::string_view control);
// The names of the parameters an experiment can vary (all but the steps, which cap every run),
// comma-separated, for messages.
std::string VariableParameterNames();

}  // namespace segwork

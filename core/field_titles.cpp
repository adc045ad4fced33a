#include "core/field_titles.h"

#include "core/convert.h"
#include "core/errors.h"

namespace segwork {

const char* FieldTitle(Field f) {
  static const char* const titles[kFieldCount] = {
      "number of agents",  "cell size",
      "number of groups",  "radius neighbourhood",
      "move distance",     "stop at timestep",
      "grid size",         "cluster threshold",
      "start with agents", "add agents per timestep",
  };
  return titles[static_cast<int>(f)];
}

int32_t FieldInt(const ControlValues& controls, Field f) {
  try {
    return StrToInt(controls.Text(f));
  } catch (const SegworkError& e) {
    throw SegworkError(e.what(), e.Caption().empty() ? FieldTitle(f) : e.Caption());
  }
}

}  // namespace segwork

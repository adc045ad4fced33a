#pragma once

#include <cstdint>

#include "core/controls.h"

namespace segwork {

// What the window calls a field, so a box about its text can name it.
const char* FieldTitle(Field f);

// The field's text as an integer; a text that is none fails with the usual message, captioned
// with the field's title.
int32_t FieldInt(const ControlValues& controls, Field f);

}  // namespace segwork

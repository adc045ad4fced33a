#pragma once

#include <array>
#include <cstdint>

#include "core/agenten.h"
#include "core/canvas.h"

namespace segwork {

// Colours of the street types -3, -2, -1, +1, +2, +3.
inline constexpr std::array<TColor, 6> kStreetColours = {
    Rgb(125, 38, 205), Rgb(171, 130, 255), Rgb(224, 102, 255),
    Rgb(255, 127, 0),  Rgb(205, 102, 0),   Rgb(205, 0, 0),
};

// A hue ramp of n colours from red over yellow, green, cyan and blue to magenta. One group is red.
colList MakeGroupPalette(int32_t n);

}  // namespace segwork

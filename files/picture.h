#pragma once

#include <string>

#include "display/raster_canvas.h"

namespace segwork {

// Writes the canvas as an 8-bit RGB PNG (see-through pixels as white). The file is replaced only
// when the whole picture is written; a failure throws a SegworkError naming the file.
void SavePng(const RasterCanvas& canvas, const std::string& path);

}  // namespace segwork

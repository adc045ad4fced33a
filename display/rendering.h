#pragma once

#include <vector>

#include "core/agenten.h"
#include "core/canvas.h"
#include "core/cell_P.h"

namespace segwork {

// Every cell's square, in scan order.
void DrawCells(const CellSpace& cells, Canvas& canvas);
// The cells, then the agents on top in list order.
void RepaintAll(const CellSpace& cells, const std::vector<TAgent>& agents, Canvas& canvas);

}  // namespace segwork

#pragma once

#include <vector>

#include "display/canvas.h"
#include "model/agenten.h"
#include "model/cell_P.h"

namespace segwork {

// Every cell's square, in scan order.
void DrawCells(const CellSpace& cells, Canvas& canvas);
// The cells, then the agents on top in list order.
void RepaintAll(const CellSpace& cells, const std::vector<TAgent>& agents, Canvas& canvas);

}  // namespace segwork

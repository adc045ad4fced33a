#include "display/rendering.h"

namespace segwork {

void DrawCells(const CellSpace& cells, Canvas& canvas) {
  for (size_t i = 0; i < cells.size(); ++i) cells.DrawCell(i, canvas);
}

void RepaintAll(const CellSpace& cells, const std::vector<TAgent>& agents, Canvas& canvas) {
  DrawCells(cells, canvas);
  for (const TAgent& agent : agents) agent.DrawAgent(canvas);
}

}  // namespace segwork

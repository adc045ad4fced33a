#include "model/CellForm.h"

namespace segwork {

void Model::CreateCellImage() {
  if (CreateCanvas) CellImage = CreateCanvas(PanelWidth, PanelHeight);
  if (!CellImage) CellImage = std::make_unique<NullCanvas>();
}

void Model::DrawCells() {
  for (const TCell& cell : Cells) cell.DrawCell(*CellImage);
}

void Model::RepaintAll() {
  DrawCells();
  for (const TAgent& agent : Agents) agent.DrawAgent(*CellImage);
}

}  // namespace segwork

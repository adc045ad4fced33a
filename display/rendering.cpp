#include "model/CellForm.h"

namespace segwork {

void Model::CreateCellImage() {
  if (CreateCanvas) CellImage = CreateCanvas(PanelWidth, PanelHeight);
  if (!CellImage) CellImage = std::make_unique<NullCanvas>();
}

void Model::DrawCells() {
  for (size_t i = 0; i < Cells.size(); ++i) Cells.DrawCell(i, *CellImage);
}

void Model::RepaintAll() {
  DrawCells();
  for (const TAgent& agent : Agents) agent.DrawAgent(*CellImage);
}

}  // namespace segwork

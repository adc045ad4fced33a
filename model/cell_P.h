#pragma once

#include <cstdint>
#include <vector>

#include "display/canvas.h"

namespace segwork {

struct GridPos {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const GridPos&) const = default;
};

// One cell of the cell space.
class TCell {
 public:
  TCell() = default;
  TCell(int32_t x, int32_t y, int32_t size, int32_t fillColor)
      : PositionX(x), PositionY(y), Size(size), FillColor(fillColor) {}

  void DrawCell(Canvas& canvas) const;

  std::vector<double> NeighbourWeights;
  int32_t Street = 0;
  double Weight = 0;
  double SimilarShare = 0;
  std::vector<GridPos> ClusterLinks;
  bool ClusterVisited = false;
  double SimilarWeight = 0;
  double OtherWeight = 0;
  bool Occupied = false;
  TColor DrawColor = 0;
  int32_t GridX = 0;
  int32_t GridY = 0;
  int32_t PositionX = 0;
  int32_t PositionY = 0;
  int32_t Size = 0;
  int32_t FillColor = 0;
  int32_t State = 0;
};

}  // namespace segwork

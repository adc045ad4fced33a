#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/cell_P.h"
#include "core/random.h"

namespace segwork {

// The neighbour weights that differ from the neighbour's own Weight (pairs behind a barrier),
// per cell in scan order, as compressed rows: cell i owns entries start[i] .. start[i + 1] - 1.
// Empty when no pair differs.
struct BarrierWeights {
  std::vector<uint64_t> start;
  std::vector<uint32_t> position;  // index in the cell's neighbour list
  std::vector<double> value;
  bool empty() const { return position.empty(); }
};

struct StreetLine {
  int32_t StartX = 0;
  int32_t StartY = 0;
  int32_t EndX = 0;
  int32_t EndY = 0;
  int32_t Street = 0;
};

// Proper crossing of the segments P1-P2 and A-B: they meet in one point strictly inside both.
bool LinesCross(GridPos p1, GridPos p2, GridPos a, GridPos b);

// The weight table's column of weights, rows 1..7 for the types -3..+3.
using WeightTexts = std::array<std::string, 8>;

// W(t): parses the row of type t.
double StreetWeight(const WeightTexts& weights, int32_t type);

// The weight table as one build reads it: each row is parsed when first needed, so only the rows
// a layout really uses can fail.
class WeightRows {
 public:
  explicit WeightRows(const WeightTexts& weights) : weights_(weights) {}
  double W(int32_t type);

 private:
  const WeightTexts& weights_;
  std::array<std::optional<double>, 7> rows_;
};

// The weight of the pair (x, y)-(nx, ny): the lowest type among the lines its segment crosses.
double PairWeight(const std::vector<StreetLine>& lines, const WeightTexts& weights, int32_t x,
                  int32_t y, int32_t nx, int32_t ny);

// What a weight build computes for the cells and their streets, before anything is installed.
struct NeighbourhoodWeights {
  std::vector<double> weight;  // each cell's own
  std::vector<uint8_t> grey;   // cells beside a positive street
  BarrierWeights barriers;     // pairs behind a negative line
  int32_t streetCells = 0;
};
using ProgressFunction = std::function<void(const char* phase, double fraction)>;
// Throws the SegworkError of the first row that cannot be read.
NeighbourhoodWeights ComputeNeighbourhoodWeights(const CellSpace& cells,
                                                 const std::vector<StreetLine>& lines,
                                                 int32_t radius, const WeightTexts& weights,
                                                 const ProgressFunction& progress);

// The cells of a street from `from` back to `start`: every step goes to the neighbour one cell
// closer whose direction is nearest to `angle`, until the start or a dead end.
std::vector<size_t> StreetPath(const CellSpace& cells, GridPos from, GridPos start, double angle);

// The lines of the grid layout on an n x n grid: rows - 1 columns, then cols - 1 rows, evenly
// spaced; `type` gives each its street type in that order.
std::vector<StreetLine> GridLayoutLines(int32_t n, int32_t rows, int32_t cols,
                                        const std::function<int32_t()>& type);

// The lines of the random layout: count - 1 lines, each with its type, then its end and start.
std::vector<StreetLine> RandomLayoutLines(int32_t n, int32_t count, Lcg& rng,
                                          const std::function<int32_t()>& type);

}  // namespace segwork

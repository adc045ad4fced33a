#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/canvas.h"

namespace segwork {

struct GridPos {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const GridPos&) const = default;
};

// One cell of the cell space, seen through the columns of the CellSpace: the fields are
// references, so writes go through. The pixel geometry is derived from the grid position.
struct TCell {
  int32_t& State;
  uint8_t& Occupied;
  int32_t& Street;
  double& Weight;
  double& SimilarShare;
  double& SimilarWeight;
  double& OtherWeight;
  TColor& DrawColor;
  uint8_t& ClusterVisited;
  int32_t PositionX;
  int32_t PositionY;
  int32_t Size;
  int32_t FillColor;

  void DrawCell(Canvas& canvas) const;
};

// Paints the square of a cell: silver outline, filled with its colour.
void DrawCellAt(Canvas& canvas, int32_t positionX, int32_t positionY, int32_t size, TColor colour);

// The cells of a run, stored column-wise (one flat array per field, row-major), so a large world
// costs a few dozen bytes a cell and a neighbourhood scan reads contiguous rows.
class CellSpace {
 public:
  int32_t ColCount = 0;
  int32_t RowCount = 0;
  int32_t CellSize = 0;
  int32_t HalfCell = 0;

  std::vector<int32_t> State;
  std::vector<uint8_t> Occupied;
  std::vector<int32_t> Street;
  std::vector<double> Weight;
  std::vector<double> SimilarShare;
  std::vector<double> SimilarWeight;
  std::vector<double> OtherWeight;
  std::vector<TColor> DrawColor;
  std::vector<uint8_t> ClusterVisited;

  // Makes cols x rows cells with every field zero.
  void Create(int32_t cols, int32_t rows, int32_t cellSize, int32_t halfCell);
  size_t size() const { return State.size(); }
  size_t Index(int32_t x, int32_t y) const { return size_t(y) * size_t(ColCount) + size_t(x); }
  int32_t XOf(size_t i) const { return int32_t(i % size_t(ColCount)); }
  int32_t YOf(size_t i) const { return int32_t(i / size_t(ColCount)); }
  // The grid position of (x, y) on the torus. Inline: every move try wraps its target.
  GridPos Wrap(int64_t x, int64_t y) const { return {WrapOne(x, ColCount), WrapOne(y, RowCount)}; }
  // Below, above, right, left.
  std::array<GridPos, 4> FourNeighbours(int32_t x, int32_t y) const {
    return {Wrap(x, int64_t(y) + 1), Wrap(x, int64_t(y) - 1), Wrap(int64_t(x) + 1, y),
            Wrap(int64_t(x) - 1, y)};
  }

  TCell operator[](size_t i);
  // The same result as repeatedly adding or subtracting the size, in constant time; a position
  // at most one size away needs no division.
  static int32_t WrapOne(int64_t v, int64_t size) {
    if (v >= 0 && v < size) return int32_t(v);
    if (v < 0 && v >= -size) return int32_t(v + size);
    if (v >= size && v - size < size) return int32_t(v - size);
    v %= size;
    return int32_t(v < 0 ? v + size : v);
  }
  TCell At(int32_t x, int32_t y) { return (*this)[Index(x, y)]; }
  void DrawCell(size_t i, Canvas& canvas) const;

  class Iterator {
   public:
    Iterator(CellSpace* space, size_t i) : space_(space), i_(i) {}
    TCell operator*() const { return (*space_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return i_ != other.i_; }

   private:
    CellSpace* space_;
    size_t i_;
  };
  Iterator begin() { return {this, 0}; }
  Iterator end() { return {this, size()}; }
};

}  // namespace segwork

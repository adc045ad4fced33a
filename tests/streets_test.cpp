#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.h"
#include "display/palette.h"
#include "window/CellForm.h"

namespace segwork {
namespace {

// A small model with an empty grid of cols x rows cells of size 6 and a fixed seed.
std::unique_ptr<Model> MakeModel(int32_t cols, int32_t rows, int32_t radius) {
  auto m = std::make_unique<Model>();
  m->Sim.PanelWidth = cols * 6;
  m->Sim.PanelHeight = rows * 6;
  m->Controls.Text(Field::Edit_cellSiz) = "6";
  m->Controls.Text(Field::Edit_nRad) = std::to_string(radius);
  m->Controls.Text(Field::Edit_anzAg) = "-1";
  m->Sim.ClockSeed = [] { return 12345u; };
  m->CreateMainWindow();
  return m;
}

void SetW(Model& m, int32_t type, const std::string& text) {
  m.Controls.SG_weight[1][size_t(type + 4)] = text;
}

// Street code on a cell and in the layout, without a line.
void SetStreet(Model& m, int32_t x, int32_t y, int32_t type) {
  m.Sim.StreetTypeAt(x, y) = type;
  m.Sim.CellAt(x, y).Street = type;
}

// Entry of neighbour (nx, ny) in the list of (x, y): rows outer, columns inner, clipped to the
// grid.
double Entry(const Model& m, int32_t x, int32_t y, int32_t nx, int32_t ny) {
  const int32_t r = m.Sim.NeighbourRadius;
  const int32_t x0 = std::max(0, x - r), x1 = std::min(m.Sim.ColCount - 1, x + r);
  const int32_t y0 = std::max(0, y - r);
  return m.Sim.NeighbourWeightsOf(x, y).at(size_t((ny - y0) * (x1 - x0 + 1) + (nx - x0)));
}

template <class F>
SegworkError Failure(F&& f) {
  try {
    f();
  } catch (const SegworkError& e) {
    return e;
  }
  ADD_FAILURE() << "no SegworkError thrown";
  return SegworkError("");
}

// ----- an independent, literal weight build -----

int Sign(int64_t v) {
  return (v > 0) - (v < 0);
}

int64_t Orient(GridPos a, GridPos b, GridPos c) {
  return int64_t(b.x - a.x) * (c.y - a.y) - int64_t(b.y - a.y) * (c.x - a.x);
}

// Proper crossing: each segment's end points lie strictly on opposite sides of the other's line.
bool ProperCrossing(GridPos p1, GridPos p2, GridPos a, GridPos b) {
  return Sign(Orient(a, b, p1)) * Sign(Orient(a, b, p2)) < 0 &&
         Sign(Orient(p1, p2, a)) * Sign(Orient(p1, p2, b)) < 0;
}

double ParseWeight(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  return std::stod(text);
}

struct BuildOutput {
  std::vector<double> weights;
  std::vector<std::vector<double>> lists;
  std::vector<bool> grey;
};

// The literal build, written out plainly: every pair through every line, no shortcuts. Reads the
// model as it stands before its own build; freshWeights takes every Weight as a setup leaves it.
BuildOutput ReferenceBuild(const Model& m, bool freshWeights = false) {
  auto W = [&](int32_t t) { return ParseWeight(m.Controls.SG_weight[1][size_t(t + 4)]); };
  const int32_t cols = m.Sim.ColCount, rows = m.Sim.RowCount, r = m.Sim.NeighbourRadius;
  auto at = [&](int32_t x, int32_t y) { return size_t(y) * size_t(cols) + size_t(x); };
  BuildOutput out{{},
                  std::vector<std::vector<double>>(m.Sim.Cells.size()),
                  std::vector<bool>(m.Sim.Cells.size(), false)};
  for (const double w : m.Sim.Cells.Weight) out.weights.push_back(freshWeights ? 1.0 : w);
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t x = 0; x < cols; ++x) {
      const int32_t s = m.Sim.Cells.Street[at(x, y)];
      if (s >= -3 && s <= -1) out.weights[at(x, y)] = W(s);
      for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) {
          const int32_t nx = x + dx < 0 ? cols - 1 : x + dx > cols - 1 ? 0 : x + dx;
          const int32_t ny = y + dy < 0 ? rows - 1 : y + dy > rows - 1 ? 0 : y + dy;
          const int32_t t = m.Sim.Cells.Street[at(nx, ny)];
          if (t > 0 && s == 0) {
            out.grey[at(x, y)] = true;
            out.weights[at(x, y)] = W(t);
          }
        }
      }
    }
  }
  for (int32_t y = 0; y < rows; ++y) {
    for (int32_t x = 0; x < cols; ++x) {
      for (int32_t dy = -r; dy <= r; ++dy) {
        for (int32_t dx = -r; dx <= r; ++dx) {
          const int32_t nx = x + dx, ny = y + dy;
          if (nx < 0 || nx > cols - 1 || ny < 0 || ny > rows - 1) continue;
          double w = W(0);
          if (m.Sim.StreetLines.size() >= 2) {
            int32_t lowest = 0;
            for (const StreetLine& l : m.Sim.StreetLines) {
              if (ProperCrossing({x, y}, {nx, ny}, {l.StartX, l.StartY}, {l.EndX, l.EndY}) &&
                  l.Street < lowest) {
                lowest = l.Street;
              }
            }
            w = W(lowest);
          }
          if (w == W(0)) w = out.weights[at(nx, ny)];
          out.lists[at(x, y)].push_back(w);
        }
      }
    }
  }
  return out;
}

void ExpectMatchesReference(const Model& m, const BuildOutput& ref, const std::string& label) {
  size_t differing = 0;
  for (size_t i = 0; i < m.Sim.Cells.size(); ++i) {
    differing +=
        !(m.Sim.Cells.Weight[i] == ref.weights[i] &&
          m.Sim.NeighbourWeightsOf(m.Sim.Cells.XOf(i), m.Sim.Cells.YOf(i)) == ref.lists[i] &&
          (!ref.grey[i] || m.Sim.Cells.DrawColor[i] == kNearStreetGrey));
  }
  EXPECT_EQ(differing, 0u) << label << ": cells that differ from the literal build";
}

struct Painted {
  int left, top;
  TColor brush;
};

class RecordingCanvas final : public Canvas {
 public:
  explicit RecordingCanvas(std::shared_ptr<std::vector<Painted>> log) : log_(std::move(log)) {}
  void SetPen(int, TColor) override {}
  void SetBrush(TColor colour) override { brush_ = colour; }
  void Rectangle(int left, int top, int, int) override { log_->push_back({left, top, brush_}); }
  void Ellipse(int, int, int, int) override {}
  void MoveTo(int, int) override {}
  void LineTo(int, int) override {}

 private:
  std::shared_ptr<std::vector<Painted>> log_;
  TColor brush_ = 0;
};

bool WasPainted(const std::vector<Painted>& log, int32_t x, int32_t y, TColor colour) {
  return std::any_of(log.begin(), log.end(), [&](const Painted& p) {
    return p.left == x * 6 && p.top == y * 6 && p.brush == colour;
  });
}

// ----- LinesCross -----

TEST(LinesCross, CrossingTouchingAndDegenerateCases) {
  EXPECT_TRUE(LinesCross({2, 2}, {0, 0}, {2, 0}, {0, 2}));
  EXPECT_TRUE(LinesCross({1, -2}, {1, 2}, {0, 0}, {2, 0}));
  EXPECT_TRUE(LinesCross({0, 0}, {3, 1}, {1, 1}, {2, 0}));  // crossing off the grid points
  // Touching at an end point, T-junctions, a segment ending on the other.
  EXPECT_FALSE(LinesCross({0, 0}, {2, 2}, {2, 2}, {4, 0}));
  EXPECT_FALSE(LinesCross({0, 0}, {2, 0}, {1, 0}, {1, 2}));
  EXPECT_FALSE(LinesCross({1, 0}, {1, 2}, {0, 0}, {2, 0}));
  // Collinear, overlapping, parallel.
  EXPECT_FALSE(LinesCross({0, 0}, {4, 0}, {2, 0}, {6, 0}));
  EXPECT_FALSE(LinesCross({0, 0}, {4, 0}, {0, 1}, {4, 1}));
  // The lines meet, but outside one segment.
  EXPECT_FALSE(LinesCross({0, 0}, {1, 1}, {3, 0}, {2, 1}));
  // Zero-length segments cross nothing.
  EXPECT_FALSE(LinesCross({1, 1}, {1, 1}, {0, 0}, {2, 2}));
  EXPECT_FALSE(LinesCross({0, 2}, {2, 0}, {1, 1}, {1, 1}));
}

TEST(LinesCross, AgreesWithExactGeometryOnSmallCoordinates) {
  Lcg g(7);
  int crossings = 0;
  for (int i = 0; i < 20000; ++i) {
    GridPos p[4];
    for (GridPos& q : p) q = {g.Random(7) - 1, g.Random(7) - 1};
    const bool expected = ProperCrossing(p[0], p[1], p[2], p[3]);
    crossings += expected;
    ASSERT_EQ(LinesCross(p[0], p[1], p[2], p[3]), expected) << "draw " << i;
  }
  EXPECT_GT(crossings, 1000);
}

// ----- BuildNeighbourhoodWeights -----

TEST(NeighbourWeights, ListLengthOrderAndClipping) {
  auto m = MakeModel(20, 14, 2);
  // Cells without streets keep their Weight, so stamping it shows which cell each entry is.
  for (int32_t y = 0; y < m->Sim.RowCount; ++y) {
    for (int32_t x = 0; x < m->Sim.ColCount; ++x) m->Sim.CellAt(x, y).Weight = 100.0 * y + x;
  }
  m->Sim.BuildNeighbourhoodWeights();
  auto expectList = [&](int32_t x, int32_t y, size_t size) {
    std::vector<double> expected;
    for (int32_t ny = y - 2; ny <= y + 2; ++ny) {
      for (int32_t nx = x - 2; nx <= x + 2; ++nx) {
        if (!m->Sim.IsOutsideGrid(nx, ny)) expected.push_back(100.0 * ny + nx);
      }
    }
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(m->Sim.NeighbourWeightsOf(x, y), expected) << x << "," << y;
  };
  expectList(0, 0, 9);  // (R+1)^2, no wrap
  expectList(19, 13, 9);
  expectList(10, 7, 25);
  expectList(19, 7, 15);
  expectList(5, 1, 20);
  EXPECT_EQ(Entry(*m, 10, 7, 10, 7), 710.0);  // the cell itself

  // A radius beyond the grid gives whole-grid lists.
  auto big = MakeModel(8, 6, 1000);
  for (size_t i = 0; i < big->Sim.Cells.size(); ++i) {
    EXPECT_EQ(big->Sim.NeighbourWeightsOf(big->Sim.Cells.XOf(i), big->Sim.Cells.YOf(i)).size(),
              48u);
  }
}

TEST(NeighbourWeights, BarriersNeedTwoLinesAndTheLowestTypeDecides) {
  auto m = MakeModel(20, 20, 2);
  SetW(*m, -3, "0,1");
  SetW(*m, -1, "0,6");
  // One -3 line down column 10 is no barrier on its own.
  m->Sim.PlaceStreetLine({10, 19}, {10, 0}, -3);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*m, 9, 5, 11, 5), 1.0);
  EXPECT_EQ(Entry(*m, 10, 5, 10, 5), 0.1);  // a -3 street cell carries W(-3) anyway
  // A second line, even a positive one far away, makes the first one a barrier.
  m->Sim.PlaceStreetLine({19, 0}, {19, 0}, 2);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*m, 9, 5, 11, 5), 0.1);
  EXPECT_EQ(Entry(*m, 9, 5, 11, 6), 0.1);
  EXPECT_EQ(Entry(*m, 9, 5, 9, 7), 1.0);
  // Positive lines never separate: a +1 line along row 15.
  m->Sim.PlaceStreetLine({14, 15}, {2, 15}, 1);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*m, 5, 14, 5, 16), 2.0);  // raised by the +1 street, not separated
  // A -1 line along row 3 across the -3 column: -1 alone gives W(-1), both give W(-3).
  m->Sim.PlaceStreetLine({0, 3}, {19, 3}, -1);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*m, 5, 2, 5, 4), 0.6);
  EXPECT_EQ(Entry(*m, 9, 2, 11, 4), 0.1);
  // The lowest code decides, not the lowest weight.
  SetW(*m, -3, "0,9");
  SetW(*m, -1, "0,2");
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*m, 9, 2, 11, 4), 0.9);
  EXPECT_EQ(Entry(*m, 5, 2, 5, 4), 0.2);

  // Lines that pass through an end cell, run along, or end on the segment do not separate.
  auto n = MakeModel(20, 20, 2);
  n->Sim.StreetLines.push_back({5, 10, 15, 10, -3});
  n->Sim.StreetLines.push_back({10, 5, 10, 15, -3});
  n->Sim.CellAt(10, 10).Weight = 7;
  n->Sim.CellAt(16, 11).Weight = 3;
  n->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*n, 10, 10, 10, 10), 7.0);  // itself, on both lines
  EXPECT_EQ(Entry(*n, 9, 9, 11, 11), 0.0);    // through the crossing point of both
  EXPECT_EQ(Entry(*n, 14, 9, 16, 11), 3.0);   // through the line's end cell (15, 10)
  EXPECT_EQ(Entry(*n, 10, 11, 10, 13), 1.0);  // along the vertical line
  EXPECT_EQ(Entry(*n, 9, 11, 10, 10), 7.0);   // ends on both lines
  EXPECT_EQ(Entry(*n, 12, 9, 12, 11), 0.0);
  // A neutral row equal to the barrier weight makes the barrier count as none.
  SetW(*n, -3, "0.5");
  SetW(*n, 0, "0,5");
  n->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(Entry(*n, 12, 9, 12, 11), 1.0);  // the neighbour's own Weight
  EXPECT_EQ(Entry(*n, 9, 9, 11, 11), 1.0);
}

TEST(NeighbourWeights, StreetCellsAndRaisedNeighbours) {
  auto m = MakeModel(20, 20, 2);
  SetStreet(*m, 10, 10, 3);
  SetStreet(*m, 3, 10, -2);
  SetStreet(*m, 19, 5, 2);  // last column: raises column 0 through the wrap
  SetStreet(*m, 5, 16, -3);
  SetStreet(*m, 6, 16, -1);
  SetStreet(*m, 7, 16, 1);
  m->SetUpRun();
  const TCell& diag = m->Sim.CellAt(11, 11);
  EXPECT_EQ(diag.Weight, 8.0);
  EXPECT_EQ(diag.DrawColor, kNearStreetGrey);
  EXPECT_EQ(Entry(*m, 13, 13, 11, 11), 8.0);
  EXPECT_EQ(Entry(*m, 13, 13, 12, 12), 1.0);
  EXPECT_EQ(m->Sim.CellAt(10, 10).Weight, 1.0);  // the +3 street cell itself
  EXPECT_EQ(Entry(*m, 12, 10, 10, 10), 1.0);
  EXPECT_EQ(m->Sim.CellAt(12, 12).DrawColor, kWhite);
  EXPECT_EQ(Entry(*m, 4, 11, 3, 10), 0.33);  // -2 cell, no line between
  EXPECT_EQ(m->Sim.CellAt(0, 4).Weight, 4.0);
  EXPECT_EQ(m->Sim.CellAt(0, 5).DrawColor, kNearStreetGrey);
  EXPECT_EQ(m->Sim.CellAt(0, 6).Weight, 4.0);
  EXPECT_EQ(m->Sim.CellAt(0, 7).Weight, 1.0);
  EXPECT_EQ(m->Sim.NeighbourWeightsOf(0, 5).size(), 15u);  // lists do not wrap
  EXPECT_EQ(m->Sim.CellAt(6, 16).Weight, 0.67);  // a negative street next to +1 is not raised
  EXPECT_EQ(m->Window.Lbl_strCell, "6");

  // The last positive neighbour in scan order decides, not the highest type.
  auto order = [](int32_t aboveLeft, int32_t belowRight) {
    auto k = MakeModel(12, 12, 1);
    SetStreet(*k, 4, 4, aboveLeft);
    SetStreet(*k, 6, 6, belowRight);
    k->SetUpRun();
    return k->Sim.CellAt(5, 5).Weight;
  };
  EXPECT_EQ(order(1, 3), 8.0);
  EXPECT_EQ(order(3, 1), 2.0);
}

TEST(NeighbourWeights, MatchesLiteralBuildOnRandomLayouts) {
  static const char* const kTexts[] = {"0", "0,25", "0.5", "0,75", "1", "1.5", "2", "3,5", "8"};
  static const int32_t kTypes[] = {-3, -2, -1, 1, 2, 3};
  static const int32_t kRadii[] = {0, 1, 2, 3, 5, 20};
  static const double kPrior[] = {1.0, 0.5, 2.0, 3.25};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    Lcg g(seed);
    const int32_t cols = 9 + g.Random(10);
    const int32_t rows = 9 + g.Random(10);
    auto m = MakeModel(cols, rows, kRadii[g.Random(6)]);
    for (int t = -3; t <= 3; ++t) SetW(*m, t, kTexts[g.Random(9)]);
    if (seed % 3 == 0) SetW(*m, 0, m->Controls.SG_weight[1][size_t(g.Random(3) + 1)]);
    for (int32_t y = 0; y < m->Sim.RowCount; ++y) {
      for (int32_t x = 0; x < m->Sim.ColCount; ++x) {
        SetStreet(*m, x, y, g.Random(8) == 0 ? kTypes[g.Random(6)] : 0);
        m->Sim.CellAt(x, y).Weight = kPrior[g.Random(4)];
      }
    }
    const int lineCount = seed == 1 ? 1 : g.Random(14);
    for (int i = 0; i < lineCount; ++i) {
      StreetLine l{g.Random(m->Sim.ColCount + 8) - 4, g.Random(m->Sim.RowCount + 8) - 4, 0, 0,
                   kTypes[g.Random(6)]};
      l.EndX = g.Random(6) == 0 ? l.StartX : g.Random(m->Sim.ColCount + 8) - 4;
      l.EndY = g.Random(6) == 0 ? l.StartY : g.Random(m->Sim.RowCount + 8) - 4;
      m->Sim.StreetLines.push_back(l);
    }
    const BuildOutput ref = ReferenceBuild(*m);
    m->Sim.BuildNeighbourhoodWeights();
    ExpectMatchesReference(*m, ref, "seed " + std::to_string(seed));
  }

  // Layouts on a larger grid, then a smaller grid: lines reach beyond it and still act.
  auto m = MakeModel(30, 30, 3);
  m->Controls.UpD_rows = 3;
  m->Controls.UpD_cols = 4;
  m->Sim.LayOutStreetGrid();
  m->Sim.LayOutRandomStreets();
  const std::vector<int32_t> before = m->Sim.StreetTypes;
  m->Controls.Text(Field::Edit_cellSiz) = "9";  // 180 / 9: 20 x 20
  m->SetUpRun();
  ASSERT_EQ(m->Sim.ColCount, 20);
  EXPECT_EQ(m->Sim.StreetLines.size(), 2u + 3u + 19u);
  EXPECT_TRUE(std::any_of(m->Sim.StreetLines.begin(), m->Sim.StreetLines.end(),
                          [](const StreetLine& l) { return l.StartX > 19 || l.StartY > 19; }));
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 20; ++x)
      ASSERT_EQ(m->Sim.StreetTypeAt(x, y), before[size_t(y * 30 + x)]);
  }
  ExpectMatchesReference(*m, ReferenceBuild(*m, true), "after shrink");
}

TEST(NeighbourWeights, WeightTextsAreParsedOnlyWhenNeededAndFailuresChangeNothing) {
  auto m = MakeModel(16, 16, 2);
  SetW(*m, -2, "0.33");
  SetStreet(*m, 4, 4, -2);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(m->Sim.CellAt(4, 4).Weight, 0.33);
  SetW(*m, -2, "0,5");
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(m->Sim.CellAt(4, 4).Weight, 0.5);  // parsed anew

  // Rows nobody needs may hold anything: +3 with no +3 street, -3 with lines that cross no pair,
  // and positive lines crossing pairs read only row 4.
  SetW(*m, 3, "x");
  SetW(*m, -3, "y");
  m->Sim.StreetLines.push_back({-9, -9, -5, -2, -3});
  m->Sim.StreetLines.push_back({-1, 30, 30, 30, -3});
  m->Sim.StreetLines.push_back({8, 0, 8, 15, 3});
  EXPECT_NO_THROW(m->Sim.BuildNeighbourhoodWeights());
  EXPECT_FALSE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Window.Lbl_strCell, "1");

  // A needed bad row fails the build and leaves every cell as it was, also the cells the build
  // had already passed (the new -2 weight would change (4, 4) and its neighbours' lists).
  auto weightLists = [&] {
    std::vector<std::vector<double>> lists;
    for (size_t i = 0; i < m->Sim.Cells.size(); ++i) {
      lists.push_back(m->Sim.NeighbourWeightsOf(m->Sim.Cells.XOf(i), m->Sim.Cells.YOf(i)));
    }
    return lists;
  };
  const CellSpace old = m->Sim.Cells;
  const std::vector<std::vector<double>> oldLists = weightLists();
  auto expectUnchanged = [&] {
    const std::vector<std::vector<double>> lists = weightLists();
    ASSERT_EQ(m->Sim.Cells.size(), old.size());
    for (size_t i = 0; i < old.size(); ++i) {
      ASSERT_EQ(m->Sim.Cells.Weight[i], old.Weight[i]) << i;
      ASSERT_EQ(lists[i], oldLists[i]) << i;
      ASSERT_EQ(m->Sim.Cells.DrawColor[i], old.DrawColor[i]) << i;
    }
  };
  SetW(*m, -2, "0,75");
  SetStreet(*m, 10, 10, 3);
  SegworkError e = Failure([&] { m->Sim.BuildNeighbourhoodWeights(); });
  EXPECT_STREQ(e.what(), "'x' is not a valid floating point value");
  EXPECT_TRUE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Window.Lbl_strCell, "1");
  expectUnchanged();
  // A barrier row is read once a line crosses a pair.
  SetW(*m, 3, "8");
  m->Sim.StreetLines.push_back({0, 5, 15, 5, -3});
  e = Failure([&] { m->Sim.BuildNeighbourhoodWeights(); });
  EXPECT_STREQ(e.what(), "'y' is not a valid floating point value");
  expectUnchanged();
  // Once corrected, starting the run rebuilds because the flag stayed set.
  SetW(*m, -3, "0");
  m->Window.Timer1Enabled = false;
  m->B_stopClick();
  EXPECT_FALSE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Sim.CellAt(11, 11).Weight, 8.0);
  EXPECT_EQ(Entry(*m, 7, 4, 7, 6), 0.0);

  // A failed rebuild while deleting streets keeps the flag set.
  SetW(*m, 0, "1;0");
  e = Failure([&] { m->DeleteStreets(); });
  EXPECT_STREQ(e.what(), "'1;0' is not a valid floating point value");
  EXPECT_TRUE(m->Sim.StreetsChanged);
  EXPECT_TRUE(m->Sim.StreetLines.empty());
  // The picture and the count show the streets gone at once, not after the mended rebuild.
  EXPECT_EQ(m->Window.Lbl_strCell, "0");
  for (size_t i = 0; i < m->Sim.Cells.size(); ++i) ASSERT_EQ(m->Sim.Cells.DrawColor[i], kWhite);
  SetW(*m, 0, "1");
  m->DeleteStreets();
  EXPECT_FALSE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Window.Lbl_strCell, "0");
  EXPECT_EQ(m->Sim.CellAt(11, 11).Weight, 8.0);  // Weight survives deleting until the next setup
  EXPECT_EQ(m->Sim.CellAt(11, 11).DrawColor, kWhite);
}

// ----- path marking -----

TEST(StreetPath, MarksFourConnectedPathsFromEndToStart) {
  auto m = MakeModel(24, 24, 2);
  m->Sim.PlaceStreetLine({20, 5}, {10, 5}, 2);
  EXPECT_EQ(m->Sim.StreetCellCount(), 11);
  for (int32_t x = 10; x <= 20; ++x) EXPECT_EQ(m->Sim.StreetTypeAt(x, 5), 2) << x;
  EXPECT_EQ(m->Sim.CellAt(15, 5).DrawColor, Rgb(205, 102, 0));

  m->DeleteStreets();
  m->Sim.PlaceStreetLine({3, 3}, {0, 0}, -1);
  EXPECT_EQ(m->Sim.StreetCellCount(), 7);
  for (int32_t k = 0; k <= 6; ++k) {
    int onDiagonal = 0;
    for (int32_t x = 0; x <= 3; ++x) {
      const int32_t y = k - x;
      if (y >= 0 && y <= 3 && m->Sim.StreetTypeAt(x, y) == -1) ++onDiagonal;
    }
    EXPECT_EQ(onDiagonal, 1) << "one cell per step of the staircase, step " << k;
  }

  // From the last column to column 0: the wrapped left neighbour ties with the right one.
  m->DeleteStreets();
  m->Sim.PlaceStreetLine({0, 7}, {23, 7}, 1);
  EXPECT_EQ(m->Sim.StreetCellCount(), 24);
  for (int32_t x = 0; x < 24; ++x) EXPECT_EQ(m->Sim.StreetTypeAt(x, 7), 1) << x;

  m->DeleteStreets();
  m->Sim.PlaceStreetLine({9, 9}, {9, 9}, 3);
  EXPECT_EQ(m->Sim.StreetCellCount(), 1);
  ASSERT_EQ(m->Sim.StreetLines.size(), 1u);
  EXPECT_EQ(m->Sim.CellAt(9, 9).DrawColor, Rgb(205, 0, 0));

  // Indices outside the grid: nothing stored or marked.
  m->Sim.PlaceStreetLine({-1, 3}, {5, 5}, 2);
  m->Sim.PlaceStreetLine({3, 3}, {24, 5}, 2);
  m->Sim.PlaceStreetLine({3, 24}, {5, 5}, 2);
  m->Sim.PlaceStreetLine({3, 3}, {5, -1}, 2);
  EXPECT_EQ(m->Sim.StreetLines.size(), 1u);
  EXPECT_EQ(m->Sim.StreetCellCount(), 1);

  // Drawing over a street: the newer type wins in the cells, the older line still separates.
  m->DeleteStreets();
  m->Sim.PlaceStreetLine({12, 5}, {2, 5}, -3);
  m->Sim.PlaceStreetLine({7, 10}, {7, 0}, 1);
  m->Sim.BuildNeighbourhoodWeights();
  EXPECT_EQ(m->Sim.StreetTypeAt(7, 5), 1);
  EXPECT_EQ(m->Sim.StreetTypeAt(6, 5), -3);
  EXPECT_EQ(m->Sim.StreetLines.size(), 2u);
  EXPECT_EQ(Entry(*m, 7, 4, 7, 6), 0.0);
}

TEST(StreetPath, WalkEndsOnOneCellWideGrids) {
  // One cell wide, the grid wraps a cell onto itself: the walk may step to its own cell (no
  // farther from the start) and does when that points along the line better than any other
  // neighbour, so it stays there until its step bound ends it. It marks what it walked and ends
  // without reaching the start. (Found by pinning these counts; the walk is left as it is.)
  // A row: the cell below is the cell itself, tried first and straight along the line.
  auto row = MakeModel(5, 1, 1);
  row->Sim.PlaceStreetLine({0, 0}, {4, 0}, 2);
  EXPECT_EQ(row->Sim.StreetLines.size(), 1u);
  EXPECT_EQ(row->Sim.StreetTypeAt(0, 0), 2);
  EXPECT_EQ(row->Sim.StreetCellCount(), 1);
  // A column: down the line to the cell before the start. There the start, as a neighbour, is
  // seen at atan2(0, 0) = 0, a quarter turn off the line, and the cell itself (its left and right
  // neighbour) straight along it: the cell itself wins.
  auto column = MakeModel(1, 5, 1);
  column->Sim.PlaceStreetLine({0, 0}, {0, 4}, -1);
  EXPECT_EQ(column->Sim.StreetCellCount(), 4);
  EXPECT_EQ(column->Sim.StreetTypeAt(0, 3), -1);
  EXPECT_EQ(column->Sim.StreetTypeAt(0, 4), 0);
  // Back up the column: the other four; both lines together cover it.
  column->Sim.PlaceStreetLine({0, 4}, {0, 0}, -1);
  EXPECT_EQ(column->Sim.StreetCellCount(), 5);
  EXPECT_EQ(column->Sim.StreetTypeAt(0, 0), -1);
  EXPECT_EQ(column->Sim.StreetTypeAt(0, 4), -1);
  auto single = MakeModel(1, 1, 1);
  single->Sim.PlaceStreetLine({0, 0}, {0, 0}, 3);
  EXPECT_EQ(single->Sim.StreetCellCount(), 1);
}

// ----- predefined layouts -----

TEST(StreetLayouts, GridOnTheDefaultCellSpace) {
  auto m = MakeModel(116, 116, 1);
  ASSERT_EQ(m->Sim.RowCount, 116);
  ASSERT_EQ(m->Sim.Rng.State(), 12345u);  // the setup's seed, nothing drawn since
  m->Sim.LayOutStreetGrid();
  ASSERT_EQ(m->Sim.StreetLines.size(), 8u);
  const int32_t at[] = {22, 45, 68, 91};
  for (size_t i = 0; i < 4; ++i) {
    const StreetLine& c = m->Sim.StreetLines[i];
    EXPECT_TRUE(c.StartX == at[i] && c.EndX == at[i] && c.StartY == 115 && c.EndY == 0) << i;
    const StreetLine& r = m->Sim.StreetLines[i + 4];
    EXPECT_TRUE(r.StartY == at[i] && r.EndY == at[i] && r.StartX == 115 && r.EndX == 0) << i;
  }
  // One random type a line, columns first; the types and the generator's state after them as
  // an implementation of the generator outside the code gives them for seed 12345.
  const int32_t types[8] = {3, 2, 1, -3, -3, 3, 3, 1};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(m->Sim.StreetLines[i].Street, types[i]) << i;
  EXPECT_EQ(m->Sim.Rng.State(), 340655249u);
  EXPECT_EQ(m->Window.Lbl_strCell, "912");
  EXPECT_FALSE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Sim.StreetTypeAt(45, 22),
            -3);  // the row line (-3) wins a crossing of the column (2)
  for (int32_t x = 0; x < 116; ++x) ASSERT_NE(m->Sim.StreetTypeAt(x, 91), 0) << x;

  // Rows 8: spacing Round(14.5) = 14.
  m->DeleteStreets();
  m->Controls.UpD_rows = 8;
  m->Controls.UpD_cols = 1;
  m->Sim.LayOutStreetGrid();
  ASSERT_EQ(m->Sim.StreetLines.size(), 7u);
  EXPECT_EQ(m->Sim.StreetLines[0].StartX, 13);
  EXPECT_EQ(m->Sim.StreetLines[1].StartX, 27);
  EXPECT_EQ(m->Sim.StreetLines[6].StartX, 97);

  // Full barriers of the chosen type when random types are off.
  m->DeleteStreets();
  m->Controls.UpD_rows = 5;
  m->Controls.UpD_cols = 5;
  m->Controls.CB_rndTyp = false;
  m->Controls.UpD_strType = -3;
  SetW(*m, -3, "0,125");
  m->Controls.Text(Field::Edit_nRad) = "5";
  m->SetUpRun();
  const uint32_t seedBefore = m->Sim.Rng.State();
  m->Sim.LayOutStreetGrid();
  EXPECT_EQ(m->Sim.Rng.State(), seedBefore);
  for (const StreetLine& l : m->Sim.StreetLines) EXPECT_EQ(l.Street, -3);
  EXPECT_EQ(Entry(*m, 20, 30, 24, 30), 0.125);
  EXPECT_EQ(Entry(*m, 30, 20, 30, 24), 0.125);
  EXPECT_EQ(Entry(*m, 20, 20, 25, 25), 0.125);
  EXPECT_EQ(Entry(*m, 20, 30, 21, 34), 1.0);
}

TEST(StreetLayouts, GridEdgeCases) {
  auto m = MakeModel(30, 30, 2);
  m->Controls.UpD_rows = 1;
  m->Controls.UpD_cols = 1;
  m->Window.Lbl_strCell = "stale";
  m->Sim.StreetsChanged = true;
  m->Sim.LayOutStreetGrid();
  EXPECT_TRUE(m->Sim.StreetLines.empty());
  EXPECT_EQ(m->Window.Lbl_strCell, "0");  // rebuilt all the same
  EXPECT_FALSE(m->Sim.StreetsChanged);

  // Column lines of a -3 type, rows 3 on 30 cells: columns 9 and 19.
  m->Controls.UpD_rows = 3;
  m->Controls.CB_rndTyp = false;
  m->Controls.UpD_strType = -3;
  SetW(*m, -3, "0,25");
  m->Sim.LayOutStreetGrid();
  ASSERT_EQ(m->Sim.StreetLines.size(), 2u);
  EXPECT_EQ(m->Sim.StreetLines[1].StartX, 19);
  EXPECT_EQ(Entry(*m, 8, 0, 10, 0), 1.0);  // the segment meets the line in its end cell
  EXPECT_EQ(Entry(*m, 18, 29, 20, 29), 1.0);
  EXPECT_EQ(Entry(*m, 8, 1, 10, 1), 0.25);
  EXPECT_EQ(Entry(*m, 8, 0, 10, 1), 0.25);
  EXPECT_EQ(Entry(*m, 8, 28, 10, 28), 0.25);

  // Lines past the last index are skipped, but each still draws its random type.
  m->DeleteStreets();
  m->Controls.CB_rndTyp = true;
  m->Controls.UpD_rows = 50;              // spacing 1: columns 0..48, of which 0..29 exist
  ASSERT_EQ(m->Sim.Rng.State(), 12345u);  // the layouts above drew nothing
  m->Sim.LayOutStreetGrid();
  ASSERT_EQ(m->Sim.StreetLines.size(), 30u);
  // The first 30 of the 49 types for seed 12345, and the state after all 49 (outside the code).
  const int32_t types[30] = {3, 2,  1,  -3, -3, 3, 3, 1,  1, -1, -1, 2, 2, -2, -3,
                             3, -1, -2, -2, -1, 2, 1, -2, 3, 2,  -2, 3, 2, 3,  1};
  for (size_t i = 0; i < 30; ++i) {
    EXPECT_EQ(m->Sim.StreetLines[i].StartX, int32_t(i));
    EXPECT_EQ(m->Sim.StreetLines[i].Street, types[i]) << i;
  }
  EXPECT_EQ(m->Sim.Rng.State(), 2869263982u);
  m->DeleteStreets();
  m->Controls.UpD_rows = 70;  // spacing 0: every line at column -1
  m->Sim.LayOutStreetGrid();
  EXPECT_TRUE(m->Sim.StreetLines.empty());
}

TEST(StreetLayouts, RandomStreetsDrawInOrderFromTheSharedGenerator) {
  auto m = MakeModel(40, 40, 2);
  ASSERT_EQ(m->Sim.Rng.State(), 12345u);
  m->Sim.LayOutRandomStreets();
  ASSERT_EQ(m->Sim.StreetLines.size(), 19u);
  // Type, end column, end row, start column, start row, line by line, from seed 12345: the
  // lines as an implementation of the generator outside the code draws them.
  const StreetLine lines[19] = {
      {22, 25, 11, 3, 3}, {1, 36, 17, 3, 3},   {31, 20, 12, 9, -1},  {31, 35, 33, 32, 3},
      {17, 7, 2, 28, 2},  {18, 2, 15, 11, -2}, {11, 21, 5, 34, -2},  {26, 31, 32, 1, -1},
      {8, 37, 2, 24, 3},  {26, 22, 8, 38, -2}, {38, 28, 30, 17, -3}, {30, 10, 23, 1, -2},
      {1, 25, 26, 26, 1}, {34, 25, 2, 32, 1},  {38, 33, 5, 26, -3},  {30, 12, 17, 22, 2},
      {20, 8, 0, 3, -2},  {29, 20, 9, 22, 3},  {0, 30, 3, 0, -2},
  };
  for (size_t i = 0; i < 19; ++i) {
    const StreetLine& l = m->Sim.StreetLines[i];
    EXPECT_TRUE(l.StartX == lines[i].StartX && l.StartY == lines[i].StartY &&
                l.EndX == lines[i].EndX && l.EndY == lines[i].EndY && l.Street == lines[i].Street)
        << i;
  }
  EXPECT_EQ(m->Sim.Rng.State(), 3307519096u);
  const StreetLine& last = m->Sim.StreetLines.back();
  EXPECT_EQ(m->Sim.StreetTypeAt(last.EndX, last.EndY), last.Street);
  EXPECT_EQ(m->Sim.StreetTypeAt(last.StartX, last.StartY), last.Street);
  EXPECT_EQ(m->Window.Lbl_strCell, std::to_string(m->Sim.StreetCellCount()));
  EXPECT_FALSE(m->Sim.StreetsChanged);

  m->Controls.UpD_nrStr = 1;
  m->Sim.LayOutRandomStreets();
  EXPECT_EQ(m->Sim.StreetLines.size(), 19u);

  // Street type 0 is refused by both layouts, even with random types, and nothing changes.
  m->Controls.UpD_strType = 0;
  m->Controls.UpD_nrStr = 20;
  const uint32_t seed = m->Sim.Rng.State();
  for (auto layout : {&Simulation::LayOutStreetGrid, &Simulation::LayOutRandomStreets}) {
    SegworkError e = Failure([&] { (m->Sim.*layout)(); });
    EXPECT_STREQ(e.what(), "0 is not a valid street type");
    EXPECT_EQ(e.Caption(), "missing value");
  }
  EXPECT_EQ(m->Sim.StreetLines.size(), 19u);
  EXPECT_EQ(m->Sim.Rng.State(), seed);
  EXPECT_FALSE(m->Sim.StreetsChanged);
}

// ----- colours -----

TEST(StreetColours, SwatchesAndPaintedStreets) {
  auto log = std::make_shared<std::vector<Painted>>();
  auto m = std::make_unique<Model>();
  m->Sim.PanelWidth = m->Sim.PanelHeight = 60;
  m->Controls.Text(Field::Edit_anzAg) = "-1";
  m->Sim.CreateCanvas = [log](int, int) { return std::make_unique<RecordingCanvas>(log); };
  m->CreateMainWindow();
  // Red in the lowest byte.
  const std::array<TColor, 7> swatches = {0xCD267D, 0xFF82AB, 0xFF66E0, 0xFFFFFF,
                                          0x007FFF, 0x0066CD, 0x0000CD};
  EXPECT_EQ(m->Sim.SwatchColours, swatches);
  for (int32_t t = -3; t <= 3; ++t) {
    if (t == 0) continue;
    m->Sim.PlaceStreetLine({t + 4, 2}, {t + 4, 2}, t);
    EXPECT_EQ(m->Sim.CellAt(t + 4, 2).DrawColor, swatches[size_t(t + 3)]) << t;
    EXPECT_TRUE(WasPainted(*log, t + 4, 2, swatches[size_t(t + 3)])) << t;
  }
  // A setup imprints the kept types with their colours.
  log->clear();
  m->SetUpRun();
  for (int32_t t = -3; t <= 3; ++t) {
    if (t == 0) continue;
    EXPECT_EQ(m->Sim.CellAt(t + 4, 2).DrawColor, swatches[size_t(t + 3)]) << t;
    EXPECT_TRUE(WasPainted(*log, t + 4, 2, swatches[size_t(t + 3)])) << t;
  }
  EXPECT_EQ(m->Sim.CellAt(4, 1).DrawColor, kNearStreetGrey);  // next to +1 at (5, 2)
  EXPECT_TRUE(WasPainted(*log, 4, 1, Rgb(232, 232, 232)));
  EXPECT_EQ(m->Window.Lbl_strCell, "6");
}

// The pixel centre of a cell of size 6.
int Px(int32_t cell) {
  return cell * 6 + 3;
}

TEST(PointerStroke, PressDragReleaseMakesOneLineAndMarksItsPath) {
  auto m = MakeModel(30, 30, 2);
  EXPECT_THROW(m->ZeichenPanelMouseDown(PointerButton::Left, Px(1), Px(1)), SegworkError);
  EXPECT_TRUE(m->Sim.StreetLines.empty());
  m->ZeichenPanelMouseUp(PointerButton::Left, Px(2), Px(2));  // release of the refused press
  EXPECT_TRUE(m->Sim.StreetLines.empty());

  m->Controls.CB_strType = 3;  // +1
  m->Controls.CB_hideAgs = false;
  m->ZeichenPanelMouseDown(PointerButton::Left, Px(10), Px(5));
  ASSERT_EQ(m->Sim.StreetLines.size(), 1u);  // appended at the press
  EXPECT_TRUE(m->DrawingLine);
  EXPECT_TRUE(m->OverlayImage);
  // A second press and a release of another button belong to the stroke.
  m->ZeichenPanelMouseDown(PointerButton::Right, Px(0), Px(0));
  m->ZeichenPanelMouseUp(PointerButton::Right, Px(0), Px(0));
  EXPECT_EQ(m->Sim.StreetLines.size(), 1u);
  EXPECT_TRUE(m->Stroke.active);
  m->ZeichenPanelMouseMove(Px(15), Px(5));
  m->ZeichenPanelMouseUp(PointerButton::Left, Px(20), Px(5));
  ASSERT_EQ(m->Sim.StreetLines.size(), 1u);
  const StreetLine& l = m->Sim.StreetLines[0];
  EXPECT_EQ(std::vector<int32_t>({l.StartX, l.StartY, l.EndX, l.EndY, l.Street}),
            std::vector<int32_t>({10, 5, 20, 5, 1}));
  EXPECT_EQ(m->Sim.StreetCellCount(), 11);
  EXPECT_FALSE(m->Sim.StreetsChanged);  // agents shown: rebuilt at the release
  EXPECT_FALSE(m->OverlayImage);
  EXPECT_FALSE(m->DrawingLine);

  // With agents hidden the press stops the run and the rebuild waits.
  m->Window.Timer1Enabled = true;
  m->Controls.CB_hideAgs = true;
  m->ZeichenPanelMouseDown(PointerButton::Right, Px(3), Px(3));
  EXPECT_FALSE(m->Window.Timer1Enabled);
  EXPECT_TRUE(m->Window.StopButtonRed);
  EXPECT_FALSE(m->DrawingLine);  // no rubber band for the right button
  m->ZeichenPanelMouseUp(PointerButton::Right, Px(3), Px(3));
  EXPECT_EQ(m->Sim.StreetLines.size(), 2u);
  EXPECT_TRUE(m->Sim.StreetsChanged);
  EXPECT_EQ(m->Sim.CellAt(3, 3).Street, 1);
}

TEST(PointerStroke, PositionsOutsideTheGridAreClamped) {
  auto m = MakeModel(20, 20, 1);
  m->Controls.CB_strType = 0;
  m->ZeichenPanelMouseDown(PointerButton::Left, -40, 0);
  m->ZeichenPanelMouseUp(PointerButton::Left, 5000, 0);
  const StreetLine& l = m->Sim.StreetLines.at(0);
  EXPECT_EQ(std::vector<int32_t>({l.StartX, l.StartY, l.EndX, l.EndY}),
            std::vector<int32_t>({0, 0, 19, 0}));
  // Odd cell sizes map pixel 0 to column -1, cell size 34 maps pixel 693 to column 20.
  m->Sim.CellSize = 5;
  m->Sim.HalfCell = 3;
  EXPECT_EQ(m->PixelToCell(0, 0), (GridPos{0, 0}));
  m->Sim.CellSize = 34;
  m->Sim.HalfCell = 17;
  EXPECT_EQ(m->PixelToCell(693, 693), (GridPos{19, 19}));
}

TEST(PointerStroke, SetupAndDeleteDuringADragCancelTheStroke) {
  auto m = MakeModel(20, 20, 1);
  m->Controls.CB_strType = 5;
  m->ZeichenPanelMouseDown(PointerButton::Left, Px(2), Px(2));
  m->SetUpRun();
  EXPECT_TRUE(m->Sim.StreetLines.empty());
  EXPECT_FALSE(m->OverlayImage);
  m->ZeichenPanelMouseUp(PointerButton::Left, Px(8), Px(2));
  EXPECT_TRUE(m->Sim.StreetLines.empty());
  EXPECT_EQ(m->Sim.StreetCellCount(), 0);

  m->ZeichenPanelMouseDown(PointerButton::Left, Px(2), Px(2));
  m->DeleteStreets();
  m->ZeichenPanelMouseUp(PointerButton::Left, Px(8), Px(2));
  EXPECT_TRUE(m->Sim.StreetLines.empty());
}

TEST(PointerStroke, FailedRebuildAtReleaseStillEndsTheStroke) {
  auto m = MakeModel(20, 20, 1);
  m->Controls.CB_strType = 3;
  m->Controls.CB_hideAgs = false;
  SetW(*m, 1, "x");
  m->ZeichenPanelMouseDown(PointerButton::Left, Px(2), Px(2));
  EXPECT_THROW(m->ZeichenPanelMouseUp(PointerButton::Left, Px(8), Px(2)), SegworkError);
  EXPECT_FALSE(m->OverlayImage);
  EXPECT_FALSE(m->Stroke.active);
  EXPECT_TRUE(m->Sim.StreetsChanged);  // the layout changed, the weights are still to be built
  EXPECT_EQ(m->Sim.StreetLines.size(), 1u);
}

}  // namespace
}  // namespace segwork

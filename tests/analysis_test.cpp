#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/convert.h"
#include "core/errors.h"
#include "display/palette.h"
#include "tests/support.h"
#include "window/CellForm.h"

namespace segwork {
namespace {

// A run without agents on a grid of (panel / cellSize) cells; the tests place agents by hand.
// The setup's reset gives the analysis window its series and table.
std::unique_ptr<Model> EmptyRun(int panel, int cellSize, int groups, bool reset = true) {
  auto m = std::make_unique<Model>();
  m->Sim.PanelWidth = m->Sim.PanelHeight = panel;
  ControlValues& c = m->Controls;
  c.Text(Field::Edit_cellSiz) = std::to_string(cellSize);
  c.Text(Field::Edit_nRad) = "1";
  c.Text(Field::Edit_mDist) = "1";
  c.Text(Field::Edit_anzGr) = std::to_string(groups);
  c.Text(Field::Edit_anzAg) = "-1";
  m->Sim.ClockSeed = [] { return 1u; };
  m->CreateMainWindow();
  if (reset) m->SetUpRun();
  return m;
}

// Hand placement, as every test file places agents (tests/support.h).
constexpr auto& Place = testing::PlaceAgent;

// Fills the tiles of side `tile` cell by cell, so groups sharing a tile never collide.
struct TileFiller {
  Model& m;
  int tile;
  std::map<std::pair<int, int>, int> used;
  void Add(int i, int j, int group, int count) {
    for (int k = 0; k < count; ++k) {
      const int n = used[{i, j}]++;
      Place(m, i * tile + n % tile, j * tile + n / tile, group);
    }
  }
};

const std::string& Cell(const Model& m, size_t column, size_t row) {
  return m.Analysis.DissimiGrid.at(column).at(row);
}

double LatestIs(const Model& m, size_t g) {
  return m.Analysis.SegregationSeries[g].points.back().y;
}

TEST(SegregationIndices, WorkedExampleAndHandComputedValues) {
  {  // Disjoint tiles: 100, 0, 0, 0 against 0, 50, 50, 0.
    auto m = EmptyRun(40, 1, 2);
    TileFiller f{*m, 20, {}};
    f.Add(0, 0, 1, 100);
    f.Add(1, 0, 2, 50);
    f.Add(0, 1, 2, 50);
    m->Controls.Text(Field::Edit_anzAg) = "199";
    m->ComputeSegregationIndices();
    EXPECT_EQ(Cell(*m, 2, 1), "100");
  }
  {  // The same spread: 50, 50, 0, 0 for both.
    auto m = EmptyRun(40, 1, 2);
    TileFiller f{*m, 20, {}};
    for (int g = 1; g <= 2; ++g) f.Add(0, 0, g, 50), f.Add(1, 0, g, 50);
    m->Controls.Text(Field::Edit_anzAg) = "199";
    m->ComputeSegregationIndices();
    EXPECT_EQ(Cell(*m, 2, 1), "0");
  }
  {
    // Three groups over four tiles. Counts per tile (0,0), (1,0), (0,1), (1,1):
    // group 1: 6 2 0 0 (S 8), group 2: 1 1 2 0 (S 4), group 3: 0 1 1 2 (S 4); N = 15.
    auto m = EmptyRun(40, 1, 3);
    TileFiller f{*m, 20, {}};
    const int counts[3][4] = {{6, 2, 0, 0}, {1, 1, 2, 0}, {0, 1, 1, 2}};
    const std::pair<int, int> tiles[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int g = 0; g < 3; ++g) {
      for (int t = 0; t < 4; ++t) f.Add(tiles[t].first, tiles[t].second, g + 1, counts[g][t]);
    }
    m->Controls.Text(Field::Edit_anzAg) = "15";
    m->Sim.StepCount = 7;
    m->ComputeSegregationIndices();
    EXPECT_EQ(Cell(*m, 2, 1), "50");
    EXPECT_EQ(Cell(*m, 3, 1), "75");
    EXPECT_EQ(Cell(*m, 3, 2), "50");
    // IS against the other agents, with N - S(g) = 7, 11, 11.
    const double is1 = (75 - 100.0 / 7 + (200.0 / 7 - 25) + 300.0 / 7 + 200.0 / 7) / 2;
    const double is2 = ((600.0 / 11 - 25) + (300.0 / 11 - 25) + (50 - 100.0 / 11) + 200.0 / 11) / 2;
    const double is3 = (700.0 / 11 + (300.0 / 11 - 25) + (25 - 200.0 / 11) + 50) / 2;
    EXPECT_NEAR(LatestIs(*m, 0), is1, 1e-9);
    EXPECT_NEAR(LatestIs(*m, 1), is2, 1e-9);
    EXPECT_NEAR(LatestIs(*m, 2), is3, 1e-9);
    EXPECT_EQ(Cell(*m, 1, 4), "67.86");
    EXPECT_EQ(Cell(*m, 2, 4), "45.45");
    EXPECT_EQ(Cell(*m, 3, 4), "61.36");
    const auto& a = m->Analysis;
    EXPECT_EQ(a.SegregationSeries[0].points.back().x, 7);
    EXPECT_EQ(a.DensitySegregationSeries[1].points.back().x, 15);  // A = 16 agents less one
    EXPECT_NEAR(a.DensitySegregationSeries[1].points.back().y, is2, 1e-9);
  }
  {
    // N as entered, not the number placed: two groups of 10 in separate tiles with N = 19
    // leave 9 for "the others", so IS exceeds 100.
    auto m = EmptyRun(40, 1, 2);
    TileFiller f{*m, 20, {}};
    f.Add(0, 0, 1, 10);
    f.Add(1, 1, 2, 10);
    m->Controls.Text(Field::Edit_anzAg) = "19";
    m->ComputeSegregationIndices();
    const double expected = (100 + 10.0 / 9 * 100) / 2;
    EXPECT_NEAR(LatestIs(*m, 0), expected, 1e-9);
    EXPECT_NEAR(LatestIs(*m, 1), expected, 1e-9);
    EXPECT_EQ(Cell(*m, 1, 3), "105.56");
    m->Controls.Text(Field::Edit_anzAg) = "20";
    m->ComputeSegregationIndices();
    EXPECT_NEAR(LatestIs(*m, 0), 100, 1e-9);
  }
}

TEST(SegregationIndices, TilingCutsTheLastTileAtTheEdge) {
  auto m = EmptyRun(694, 6, 2);
  ASSERT_EQ(m->Sim.RowCount, 116);
  m->Controls.Text(Field::Edit_anzAg) = "1";
  // One agent of each group: 100 when they sit in different tiles, 0 when they share one.
  auto pairD = [&](int tileSize, int x1, int y1, int x2, int y2) {
    for (TCell c : m->Sim.Cells) c.State = 0, c.Occupied = false;
    m->Sim.CellsEdited();
    m->Sim.Agents.clear();
    m->Sim.GroupSizes.assign(2, 0);
    Place(*m, x1, y1, 1);
    Place(*m, x2, y2, 2);
    m->Controls.Text(Field::E_nbSize) = std::to_string(tileSize);
    m->E_nbSizeChange();
    m->ComputeSegregationIndices();
    return Cell(*m, 2, 1);
  };
  EXPECT_EQ(pairD(20, 99, 0, 100, 0), "100");
  EXPECT_EQ(pairD(20, 19, 19, 20, 20), "100");
  EXPECT_EQ(pairD(20, 80, 0, 99, 0), "0");
  // The sixth tile column and row hold the 16 cells 100..115.
  EXPECT_EQ(pairD(20, 100, 0, 115, 19), "0");     // 16 x 20
  EXPECT_EQ(pairD(20, 0, 100, 19, 115), "0");     // 20 x 16
  EXPECT_EQ(pairD(20, 100, 100, 115, 115), "0");  // 16 x 16
  EXPECT_EQ(pairD(20, 115, 0, 0, 0), "100");      // tiles do not wrap
  // Every cell counted once: one group on the corner tile, the other everywhere else.
  for (TCell c : m->Sim.Cells) c.State = 0, c.Occupied = false;
  m->Sim.CellsEdited();
  m->Sim.Agents.clear();
  m->Sim.GroupSizes.assign(2, 0);
  for (int y = 0; y < 116; ++y) {
    for (int x = 0; x < 116; ++x) Place(*m, x, y, x >= 100 && y >= 100 ? 1 : 2);
  }
  EXPECT_EQ(m->Sim.GroupSizes[0], 256);
  m->ComputeSegregationIndices();
  EXPECT_EQ(Cell(*m, 2, 1), "100");
  // A tile of RowCount or more cells is the whole grid.
  EXPECT_EQ(pairD(116, 0, 0, 115, 115), "0");
  EXPECT_EQ(pairD(10000, 0, 0, 115, 115), "0");
  EXPECT_EQ(pairD(115, 0, 0, 115, 115), "100");
}

TEST(SegregationIndices, EmptyDivisorsGiveOneFinitePointPerGroup) {
  auto m = EmptyRun(40, 1, 3);
  const auto& a = m->Analysis;
  size_t calls = 0;
  auto compute = [&](const char* n) {
    m->Controls.Text(Field::Edit_anzAg) = n;
    m->ComputeSegregationIndices();
    ++calls;
    for (size_t g = 0; g < 3; ++g) {
      ASSERT_EQ(a.SegregationSeries[g].points.size(), calls);
      ASSERT_EQ(a.DensitySegregationSeries[g].points.size(), calls);
    }
    for (const LineSeries& s : a.ChangeSeries) ASSERT_EQ(s.points.size(), calls);
  };
  compute("0");  // no agents at all: every S(g) = 0, A = -1
  Place(*m, 3, 3, 1);
  compute("0");  // A = 0, and group 3 has S = 0
  Place(*m, 30, 30, 2);
  Place(*m, 31, 30, 1);
  compute("2");   // N = S(group 1)
  compute("-5");  // N below every S(g)
  for (const auto* table : {&a.SegregationSeries, &a.DensitySegregationSeries, &a.ChangeSeries}) {
    for (const LineSeries& s : *table) {
      for (const ChartPoint& p : s.points) {
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      }
    }
  }
  for (const auto& column : a.DissimiGrid) {
    for (const std::string& text : column) {
      EXPECT_EQ(text.find("nan"), std::string::npos);
      EXPECT_EQ(text.find("inf"), std::string::npos);
    }
  }
  // Cells whose State is no group are not read: the indices, the table and the clusters are
  // those of the same cells without them.
  m->FindClusters();
  const auto clusters = m->Sim.ClusterSizes;
  const auto table = a.DissimiGrid;
  std::vector<double> indices;
  for (const LineSeries& s : a.SegregationSeries) indices.push_back(s.points.back().y);
  m->Sim.CellAt(10, 10).State = 9;
  m->Sim.CellAt(11, 10).State = -2;
  m->Sim.CellAt(0, 0).State = 4;  // one past the three groups
  m->Sim.CellsEdited();
  m->ComputeSegregationIndices();
  m->FindClusters();
  EXPECT_EQ(m->Sim.ClusterSizes, clusters);
  EXPECT_EQ(a.DissimiGrid, table);
  for (size_t g = 0; g < 3; ++g) EXPECT_EQ(a.SegregationSeries[g].points.back().y, indices[g]);
  EXPECT_EQ(clusters, (std::vector<std::vector<int32_t>>{{1, 1}, {1}, {}}));
}

TEST(SegregationIndices, DissimiGridLayoutAndTexts) {
  auto m = EmptyRun(40, 1, 3);
  const auto& grid = m->Analysis.DissimiGrid;
  ASSERT_EQ(grid.size(), 4u);
  for (const auto& column : grid) ASSERT_EQ(column.size(), 5u);
  EXPECT_EQ(grid[0][0], "groups");
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(grid[k + 1][0], "group " + std::to_string(k));
    EXPECT_EQ(grid[0][k + 1], "group " + std::to_string(k));
  }
  EXPECT_EQ(grid[0][4], "IS");
  for (size_t c = 1; c < 4; ++c) {
    for (size_t r = 1; r < 5; ++r) EXPECT_EQ(grid[c][r], " ");
  }
  Place(*m, 0, 0, 1);
  Place(*m, 39, 39, 2);
  Place(*m, 20, 0, 3);
  m->Controls.Text(Field::Edit_anzAg) = "2";
  m->ComputeSegregationIndices();
  for (size_t g = 0; g < 3; ++g) {
    EXPECT_EQ(grid[g + 1][g + 1], "0");
    for (size_t h = 0; h < g; ++h) EXPECT_EQ(grid[h + 1][g + 1], " ");
    EXPECT_NE(grid[g + 1][4], " ");
  }
  EXPECT_EQ(grid[2][1], "100");

  EXPECT_EQ(TwoDecimalText(12.5), "12.5");
  EXPECT_EQ(TwoDecimalText(33.333), "33.33");
  EXPECT_EQ(TwoDecimalText(0), "0");
  EXPECT_EQ(TwoDecimalText(105.5555), "105.56");
  EXPECT_EQ(TwoDecimalText(-0.001), "0");
  // Ties where value / 0.01 lands exactly on a half go to the even hundredth.
  EXPECT_EQ(TwoDecimalText(0.125), "0.12");
  EXPECT_EQ(TwoDecimalText(0.375), "0.38");
  EXPECT_EQ(TwoDecimalText(12.125), "12.12");
  EXPECT_EQ(TwoDecimalText(0.005), "0");
  EXPECT_EQ(TwoDecimalText(0.015), "0.02");
  EXPECT_EQ(TwoDecimalText(12.5, ','), "12,5");
  EXPECT_EQ(TwoDecimalText(-3.1), "-3.1");
  // Every magnitude from hundredths to 10^16, halves of hundredths among them: the value rounded
  // to hundredths (value / 0.01 to the nearest integer, ties to even) printed with up to 15
  // significant digits, 10^15 and above without a fraction. Expected texts from an
  // implementation outside the code.
  const std::pair<double, const char*> texts[] = {
      {-0.01, "-0.01"},
      {0.00254282475495711, "0"},
      {-0.86, "-0.86"},
      {40736.57277505845, "40736.57"},
      {0.015367039204575123, "0.02"},
      {63520.345, "63520.34"},
      {113237256230.78645, "113237256230.79"},
      {0.10169857139699162, "0.1"},
      {-0.008676959150470792, "-0.01"},
      {286564.0372503549, "286564.04"},
      {-28788352054.545, "-28788352054.54"},
      {-728.634507395326, "-728.63"},
      {0.045, "0.04"},
      {4145895294.379443, "4145895294.38"},
      {57796911.805, "57796911.8"},
      {-501871.536951512, "-501871.54"},
      {0.655, "0.66"},
      {-5332836.969755589, "-5332836.97"},
      {41.235, "41.24"},
      {-646649.67, "-646649.67"},
      {-13607833948.917686, "-13607833948.92"},
      {659173.275, "659173.28"},
      {-94.545, "-94.54"},
      {26410140148.365, "26410140148.36"},
      {235113506251.945, "235113506251.94"},
      {-2057456234.005, "-2057456234"},
      {-1.025, "-1.02"},
      {-200011983467.26596, "-200011983467.27"},
      {-1220353.895, "-1220353.9"},
      {-5.562812509015192e-05, "0"},
      {999999999999.995, "1000000000000"},
      {999999999999.99, "999999999999.99"},
      {-1000000000000.0, "-1000000000000"},
      {10000000000000.0, "10000000000000"},
      {123456789012.345, "123456789012.34"},
      {12345678901234.5, "12345678901234.5"},
      {99999999999999.5, "99999999999999.5"},
      {-75000000000000.0, "-75000000000000"},
      {1e16, "10000000000000000"},
  };
  for (const auto& [value, text] : texts) EXPECT_EQ(TwoDecimalText(value), text) << value;

  // The table follows the window's decimal separator.
  m->Analysis.DecimalSeparator = ',';
  m->Sim.Agents.clear();
  for (TCell c : m->Sim.Cells) c.State = 0, c.Occupied = false;
  m->Sim.CellsEdited();
  m->Sim.GroupSizes.assign(3, 0);
  TileFiller f{*m, 20, {}};
  f.Add(0, 0, 1, 3);
  f.Add(1, 0, 1, 5);  // group 1: 3/8, 5/8
  f.Add(0, 0, 2, 1);  // group 2: all in the first tile
  m->Controls.Text(Field::Edit_anzAg) = "8";
  m->ComputeSegregationIndices();
  EXPECT_EQ(grid[2][1], "62,5");
}

TEST(SegregationIndices, ManyGroupsOnSmallTilesMatchEveryPairSummed) {
  const int groups = 40;
  auto m = EmptyRun(40, 2, groups);  // 20 x 20 cells
  m->Sim.TileSize = 3;
  uint32_t seed = 9;
  for (int i = 0; i < 250; ++i) {
    seed = seed * 134775813u + 1;
    const int x = int(seed % 20), y = int((seed >> 8) % 20);
    if (m->Sim.CellAt(x, y).State != 0) continue;
    Place(*m, x, y, 1 + int((seed >> 16) % 35));  // groups 36..40 stay empty
  }
  m->Controls.Text(Field::Edit_anzAg) = std::to_string(m->Sim.Agents.size() - 1);
  m->ComputeSegregationIndices();

  // Every pair over every tile, in tile order, as the index is defined.
  const size_t n = size_t(groups);
  std::vector<long double> d(n * n, 0.0L);
  auto percent = [](long double c, long double t) { return t == 0 ? 0.0L : c / t * 100; };
  for (int j = 0; j < 7; ++j) {
    for (int i = 0; i < 7; ++i) {
      std::vector<int> count(n, 0);
      for (int y = j * 3; y < std::min(j * 3 + 3, 20); ++y) {
        for (int x = i * 3; x < std::min(i * 3 + 3, 20); ++x) {
          if (const int state = m->Sim.CellAt(x, y).State; state > 0) ++count[size_t(state - 1)];
        }
      }
      for (size_t g = 0; g < n; ++g) {
        for (size_t h = g + 1; h < n; ++h) {
          d[h * n + g] += std::fabs(percent(count[g], m->Sim.GroupSizes[g]) -
                                    percent(count[h], m->Sim.GroupSizes[h]));
        }
      }
    }
  }
  for (size_t g = 0; g < n; ++g) {
    for (size_t h = g + 1; h < n; ++h) {
      ASSERT_EQ(Cell(*m, h + 1, g + 1), TwoDecimalText(double(d[h * n + g] * 0.5L)))
          << g << " " << h;
    }
  }
}

TEST(SegregationIndices, RepeatedCallsEarlyCallsAndRefusals) {
  {  // "dissimilar" twice without a step: two points at the same x everywhere it writes.
    auto m = EmptyRun(40, 1, 2);
    Place(*m, 1, 1, 1);
    Place(*m, 2, 1, 2);
    m->Controls.Text(Field::Edit_anzAg) = "1";
    m->Sim.StepCount = 12;
    m->ComputeSegregationIndices();
    m->ComputeSegregationIndices();
    const auto& a = m->Analysis;
    for (const auto* table : {&a.SegregationSeries, &a.DensitySegregationSeries, &a.ChangeSeries}) {
      for (const LineSeries& s : *table) {
        ASSERT_EQ(s.points.size(), 2u);
        EXPECT_EQ(s.points[0].x, s.points[1].x);
      }
    }
    EXPECT_TRUE(a.SatisfactionSeries[0].points.empty());
  }
  {  // Right after program start, before any reset of the analysis window.
    auto m = EmptyRun(40, 1, 3, /*reset=*/false);
    EXPECT_TRUE(m->Analysis.SegregationSeries.empty());
    Place(*m, 1, 1, 1);
    Place(*m, 2, 1, 1);
    Place(*m, 9, 9, 3);
    m->Controls.Text(Field::Edit_anzAg) = "2";
    ASSERT_NO_THROW(m->ComputeSegregationIndices());
    ASSERT_EQ(m->Analysis.SegregationSeries.size(), 3u);
    ASSERT_EQ(m->Analysis.DensitySegregationSeries.size(), 3u);
    ASSERT_EQ(m->Analysis.ChangeSeries.size(), 4u);
    for (const LineSeries& s : m->Analysis.SegregationSeries) EXPECT_EQ(s.points.size(), 1u);
    ASSERT_NO_THROW(m->FindClusters());
    EXPECT_EQ(m->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{2}, {}, {1}}));
    ASSERT_NO_THROW(m->RecordStepMeasures());
    EXPECT_EQ(m->Analysis.SatisfactionSeries.size(), 3u);
  }
  {  // A bad number of agents stops the call before it writes anything.
    auto m = EmptyRun(40, 1, 2);
    Place(*m, 1, 1, 1);
    m->Controls.Text(Field::Edit_anzAg) = "12a";
    const auto before = m->Analysis.DissimiGrid;
    try {
      m->ComputeSegregationIndices();
      ADD_FAILURE() << "no error";
    } catch (const SegworkError& e) {
      EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
    EXPECT_EQ(m->Analysis.DissimiGrid, before);
    for (const LineSeries& s : m->Analysis.SegregationSeries) EXPECT_TRUE(s.points.empty());
    for (const LineSeries& s : m->Analysis.ChangeSeries) EXPECT_TRUE(s.points.empty());
  }
  {  // A tile size below 1 is refused and the old one stays, at a change and at setup.
    auto m = EmptyRun(40, 1, 2);
    m->Controls.Text(Field::E_nbSize) = "7";
    m->E_nbSizeChange();
    for (const char* text : {"0", "-3", "x"}) {
      m->Controls.Text(Field::E_nbSize) = text;
      EXPECT_THROW(m->E_nbSizeChange(), SegworkError) << text;
      EXPECT_EQ(m->Sim.TileSize, 7);
    }
    m->Controls.Text(Field::E_nbSize) = "0";
    EXPECT_THROW(m->SetUpRun(), SegworkError);
    EXPECT_EQ(m->Sim.TileSize, 7);
    m->Controls.Text(Field::Edit_anzAg) = "1";
    EXPECT_NO_THROW(m->ComputeSegregationIndices());
    m->Sim.TileSize = 0;  // however it got there, the tiling refuses it
    EXPECT_THROW(m->ComputeSegregationIndices(), SegworkError);
    EXPECT_EQ(m->Analysis.ChangeSeries[0].points.size(), 1u);
  }
}

TEST(Clusters, ShapesWrapAndOrder) {
  auto m = EmptyRun(10, 1, 2);
  m->FindClusters();
  EXPECT_EQ(m->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{}, {}}));

  Place(*m, 2, 2, 1);
  Place(*m, 3, 3, 1);  // corner contact only
  Place(*m, 0, 5, 1);
  Place(*m, 9, 5, 1);  // across the left/right edge
  Place(*m, 5, 0, 2);
  Place(*m, 5, 9, 2);  // across the top/bottom edge
  Place(*m, 6, 5, 2);  // alone, below the first group-2 cluster in scan order
  m->FindClusters();
  EXPECT_EQ(m->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{1, 1, 2}, {2, 1}}));

  // The four corners are one cluster through both edges at once.
  auto c = EmptyRun(10, 1, 1);
  for (auto [x, y] : {std::pair{0, 0}, {9, 0}, {0, 9}, {9, 9}}) Place(*c, x, y, 1);
  c->FindClusters();
  EXPECT_EQ(c->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{4}}));

  // Entries follow the scan order of each cluster's first cell, not the cluster's extent.
  auto o = EmptyRun(10, 1, 1);
  for (int y = 1; y <= 3; ++y) Place(*o, 5, y, 1);  // first cell (5, 1)
  Place(*o, 1, 2, 1);                               // (1, 2)
  for (int x = 0; x <= 1; ++x) Place(*o, x, 5, 1);  // (0, 5)
  o->FindClusters();
  EXPECT_EQ(o->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{3, 1, 2}}));
}

TEST(Clusters, Checkerboards) {
  auto even = EmptyRun(10, 1, 2);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) Place(*even, x, y, (x + y) % 2 + 1);
  }
  even->FindClusters();
  EXPECT_EQ(even->Sim.ClusterSizes,
            (std::vector<std::vector<int32_t>>(2, std::vector<int32_t>(50, 1))));

  // On a 9 x 9 board the cells of the last column meet those of the first, and the last row
  // the first: pairs along the edges, the four corners as one cluster.
  auto odd = EmptyRun(9, 1, 2);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) Place(*odd, x, y, (x + y) % 2 + 1);
  }
  odd->FindClusters();
  const std::vector<int32_t> group1 = {4, 2, 2, 2, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1,
                                       2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1};
  const std::vector<int32_t> group2 = {2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1,
                                       1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1};
  EXPECT_EQ(odd->Sim.ClusterSizes[0], group1);
  EXPECT_EQ(odd->Sim.ClusterSizes[1], group2);
}

TEST(Clusters, WholeGridIsOneClusterAndSizesAddUp) {
  auto big = EmptyRun(694, 1, 1, /*reset=*/false);
  ASSERT_EQ(big->Sim.Cells.size(), 481636u);
  for (TCell c : big->Sim.Cells) c.State = 1, c.Occupied = true;
  big->Sim.GroupSizes[0] = 481636;
  big->FindClusters();
  EXPECT_EQ(big->Sim.ClusterSizes, (std::vector<std::vector<int32_t>>{{481636}}));
  ASSERT_EQ(big->Analysis.ClusterSizeSeries.bars.size(), 1u);
  EXPECT_EQ(big->Analysis.ClusterSizeSeries.bars[0].value, 481636);

  auto m = EmptyRun(30, 1, 3);
  Lcg rng(2024);
  std::vector<int64_t> occupied(3, 0);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 30; ++x) {
      const int g = rng.Random(4);  // 0: empty
      if (g == 0) continue;
      Place(*m, x, y, g);
      ++occupied[size_t(g - 1)];
    }
  }
  m->FindClusters();
  for (size_t g = 0; g < 3; ++g) {
    int64_t sum = 0;
    for (int32_t s : m->Sim.ClusterSizes[g]) sum += s;
    EXPECT_EQ(sum, occupied[g]);
  }
}

TEST(Clusters, ChartBarsTitleAndBadThreshold) {
  auto m = EmptyRun(10, 1, 3);
  for (int y = 1; y <= 3; ++y) Place(*m, 5, y, 1);  // 3
  Place(*m, 1, 2, 1);                               // 1
  Place(*m, 0, 5, 1), Place(*m, 1, 5, 1);           // 2
  for (int x = 3; x <= 7; ++x) Place(*m, x, 7, 2);  // 5
  Place(*m, 0, 0, 3);                               // 1
  Place(*m, 8, 8, 3), Place(*m, 8, 9, 3);           // 2
  m->Sim.StepCount = 31;
  m->FindClusters();
  const auto& a = m->Analysis;
  EXPECT_EQ(a.ChartTitle[2], "cluster sizes >1 at timestep 31");
  const TColor red = Rgb(255, 0, 0), green = Rgb(0, 255, 128), magenta = Rgb(255, 0, 255);
  auto bars = [&] {
    std::vector<std::pair<double, TColor>> out;
    for (const Bar& b : a.ClusterSizeSeries.bars) out.push_back({b.value, b.colour});
    return out;
  };
  using Bars = std::vector<std::pair<double, TColor>>;
  EXPECT_EQ(bars(), (Bars{{3, red}, {2, red}, {5, green}, {2, magenta}}));
  ASSERT_EQ(a.Series3.bars.size(), 3u);
  EXPECT_EQ(a.Series3.bars[0].value, 6);
  EXPECT_EQ(a.Series3.bars[1].value, 5);
  EXPECT_EQ(a.Series3.bars[2].colour, magenta);

  m->Controls.Text(Field::E_clusterT) = "2";
  m->FindClusters();
  EXPECT_EQ(bars(), (Bars{{3, red}, {5, green}}));
  EXPECT_EQ(a.ChartTitle[2], "cluster sizes >2 at timestep 31");

  // A bad threshold leaves the chart as it was, but the new sizes are kept.
  Place(*m, 9, 0, 2);
  m->Controls.Text(Field::E_clusterT) = "two";
  const uint64_t charts = a.ClusterChartCount;
  m->Sim.StepCount = 61;
  EXPECT_THROW(m->FindClusters(), SegworkError);
  EXPECT_EQ(bars(), (Bars{{3, red}, {5, green}}));
  EXPECT_EQ(a.ChartTitle[2], "cluster sizes >2 at timestep 31");
  EXPECT_EQ(a.ClusterChartCount, charts);
  EXPECT_EQ(m->Sim.ClusterSizes[1], (std::vector<int32_t>{1, 5}));

  // A new run's chart starts empty, not with the old run's bars.
  m->ResetAnalysis();
  EXPECT_TRUE(a.ClusterSizeSeries.bars.empty());
  EXPECT_EQ(a.ChartTitle[2], "cluster sizes");
}

TEST(RecordStepMeasures, FirstStepResetsAndClustersEvery30Steps) {
  Model m;
  ControlValues& c = m.Controls;
  c.Text(Field::Edit_cellSiz) = "20";
  c.Text(Field::Edit_anzAg) = "500";
  c.Text(Field::Edit_anzGr) = "3";
  c.Text(Field::Edit_nRad) = "2";
  c.Text(Field::Edit_mDist) = "5";
  m.Sim.ClockSeed = [] { return 99u; };
  m.StartProgram();
  const auto& a = m.Analysis;
  m.Analysis.SatisfactionSeries[0].Add(0, 1);  // stale: the step-1 reset must drop it
  m.Analysis.ChartTitle[1] = "old";
  const uint64_t resets = a.ResetCount;
  for (int step = 1; step <= 61; ++step) {
    const uint64_t charts = a.ClusterChartCount;
    m.AdvanceOneStep();
    const bool clusterStep = step == 1 || step == 31 || step == 61;
    EXPECT_EQ(a.ClusterChartCount - charts, clusterStep ? 1u : 0u) << step;
    if (step == 1) {
      EXPECT_EQ(a.ResetCount, resets + 1);
      EXPECT_EQ(a.ChartTitle[1], "average satisfaction of the agents");
      EXPECT_EQ(a.ChartTitle[4], "segregation measure in 20x20 tiles");
      EXPECT_EQ(a.ChartTitle[5], "density - segregation measure in 20x20 tiles");
      EXPECT_EQ(a.ChartTitle[6], "changes");
      EXPECT_EQ(a.ChartTitle[3], "group sizes");
      EXPECT_EQ(a.ChartTitle[2], "cluster sizes >1 at timestep 1");
    }
    if (step == 31) {
      EXPECT_EQ(a.ChartTitle[2], "cluster sizes >1 at timestep 31");
    }
  }
  EXPECT_EQ(a.ResetCount, resets + 1);
  for (const auto* table : {&a.SatisfactionSeries, &a.SegregationSeries}) {
    for (const LineSeries& s : *table) {
      ASSERT_EQ(s.points.size(), 61u);
      EXPECT_EQ(s.points.front().x, 1);
      EXPECT_EQ(s.points.back().x, 61);
    }
  }
  for (const LineSeries& s : a.ChangeSeries) EXPECT_EQ(s.points.size(), 61u);
}

TEST(RecordStepMeasures, SatisfactionAndChangePoints) {
  auto m = EmptyRun(40, 1, 3);
  Place(*m, 1, 1, 1);
  Place(*m, 5, 1, 1);
  Place(*m, 9, 9, 2);
  Place(*m, 20, 20, 2);
  Place(*m, 30, 30, 1);
  m->Sim.CellAt(1, 1).SimilarShare = 20;
  m->Sim.CellAt(5, 1).SimilarShare = 40;
  m->Sim.CellAt(30, 30).SimilarShare = 60;
  m->Sim.CellAt(9, 9).SimilarShare = 75;
  m->Sim.CellAt(20, 20).SimilarShare = 0;
  m->Sim.CellAt(7, 7).SimilarShare = 99;  // empty: not counted
  m->Sim.CellAt(7, 7).State = 3;          // not occupied: group 3 still has no cell
  m->Controls.Text(Field::Edit_anzAg) = "4";
  m->Sim.StepCount = 5;
  m->Sim.MoversInStep = 3;
  m->RecordStepMeasures();
  const auto& a = m->Analysis;
  ASSERT_EQ(a.SatisfactionSeries[0].points.size(), 1u);
  EXPECT_EQ(a.SatisfactionSeries[0].points[0].x, 5);
  EXPECT_DOUBLE_EQ(a.SatisfactionSeries[0].points[0].y, 40);
  EXPECT_DOUBLE_EQ(a.SatisfactionSeries[1].points[0].y, 37.5);
  EXPECT_TRUE(a.SatisfactionSeries[2].points.empty());
  EXPECT_EQ(a.SegregationSeries[2].points.size(), 1u);
  EXPECT_EQ(a.ClusterChartCount, 0u);  // step 5 is no cluster step

  // A = 5 agents less one; density in percent of the 1600 cells.
  ASSERT_EQ(a.ChangeSeries.size(), 4u);
  auto point = [&](size_t i) {
    return std::pair{a.ChangeSeries[i].points.at(0).x, a.ChangeSeries[i].points.at(0).y};
  };
  EXPECT_EQ(point(0), (std::pair{5.0, 3.0}));
  EXPECT_EQ(point(1), (std::pair{5.0, 3.0 / 4 * 100}));
  EXPECT_EQ(point(2), (std::pair{4.0, 4.0 / 1600 * 100}));
  EXPECT_EQ(point(3), (std::pair{5.0, 4.0 / 1600 * 100}));
}

TEST(RecordStepMeasures, ARunPastItsStopStepKeepsABoundedTail) {
  auto m = EmptyRun(20, 2, 2);  // 10 x 10 cells
  Place(*m, 1, 1, 1);
  Place(*m, 5, 5, 2);
  m->Controls.Text(Field::Edit_anzAg) = "2";
  m->Sim.StopStep = 100;
  const size_t tail = LineSeries::kTailPoints;
  const size_t limit = 100 + 2 * tail;
  const int32_t last = int32_t(100 + 5 * tail + 17);
  size_t largest = 0;
  for (m->Sim.StepCount = 1; m->Sim.StepCount <= last; ++m->Sim.StepCount) {
    m->RecordStepMeasures();
    largest = std::max(largest, m->Analysis.SegregationSeries[0].points.size());
  }
  EXPECT_EQ(largest, limit);
  const auto& a = m->Analysis;
  for (const auto* table : {&a.SatisfactionSeries, &a.SegregationSeries,
                            &a.DensitySegregationSeries, &a.ChangeSeries}) {
    for (const LineSeries& s : *table) {
      ASSERT_LE(s.points.size(), limit);
      ASSERT_GT(s.points.size(), 100 + tail);
      EXPECT_GE(s.Thinnings, 2u);
    }
  }
  // The planned run stays exact, the newest step is there, and the order holds.
  const std::vector<ChartPoint>& p = a.SegregationSeries[1].points;
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(p[i].x, double(i + 1));
  EXPECT_EQ(p.back().x, double(last));
  for (size_t i = 1; i < p.size(); ++i) ASSERT_LT(p[i - 1].x, p[i].x);

  // Below the bound nothing is touched.
  LineSeries s;
  for (size_t i = 0; i < 3 + 2 * tail; ++i) s.Add(double(i), 0);
  s.Bound(3);
  EXPECT_EQ(s.points.size(), 3 + 2 * tail);
  EXPECT_EQ(s.Thinnings, 0u);

  // A headless run that prints each step keeps nothing per step: the newest measures only.
  m->Sim.History = MeasureHistory::LatestOnly;
  m->Sim.Observer = nullptr;
  const size_t charted = a.SegregationSeries[0].points.size();
  for (m->Sim.StepCount = 1; m->Sim.StepCount <= 250; ++m->Sim.StepCount) m->RecordStepMeasures();
  EXPECT_EQ(m->Sim.Measures.size(), 1u);
  EXPECT_EQ(m->Sim.Measures.Latest().Step, 250);
  EXPECT_EQ(a.SegregationSeries[0].points.size(), charted);
}

TEST(GroupPalette, HueRamp) {
  auto rgb = [](TColor c) { return std::tuple{RedOf(c), GreenOf(c), BlueOf(c)}; };
  using C = std::tuple<uint32_t, uint32_t, uint32_t>;
  auto palette = [&](int n) {
    std::vector<C> out;
    for (TColor c : MakeGroupPalette(n)) out.push_back(rgb(c));
    return out;
  };
  EXPECT_EQ(
      palette(6),
      (std::vector<C>{
          {255, 0, 0}, {255, 255, 0}, {0, 255, 0}, {0, 255, 255}, {0, 0, 255}, {255, 0, 255}}));
  EXPECT_EQ(palette(2), (std::vector<C>{{255, 0, 0}, {255, 0, 255}}));
  EXPECT_EQ(palette(3), (std::vector<C>{{255, 0, 0}, {0, 255, 128}, {255, 0, 255}}));
  EXPECT_EQ(palette(4), (std::vector<C>{{255, 0, 0}, {85, 255, 0}, {0, 170, 255}, {255, 0, 255}}));
  EXPECT_EQ(palette(11).at(3), (C{128, 255, 0}));
  EXPECT_EQ(palette(1), (std::vector<C>{{255, 0, 0}}));
}

}  // namespace
}  // namespace segwork

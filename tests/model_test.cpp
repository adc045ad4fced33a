#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/agenten.h"
#include "core/controls.h"
#include "core/convert.h"
#include "core/errors.h"
#include "core/large_arrays.h"
#include "core/random.h"
#include "sim/wide_tries.h"
#include "tests/soak.h"
#include "tests/support.h"
#include "window/CellForm.h"

namespace segwork {
namespace {

constexpr double kTwoTo32 = 4294967296.0;

// A model whose panel holds cols x rows cells of size 6, with a fixed seed. Controls may still be
// changed before CreateMainWindow.
std::unique_ptr<Model> SmallModel(int cols, int rows, const char* agents, uint32_t seed = 7) {
  auto m = std::make_unique<Model>();
  m->Sim.PanelWidth = cols * 6;
  m->Sim.PanelHeight = rows * 6;
  m->Sim.ClockSeed = [seed] { return seed; };
  m->Controls.Text(Field::Edit_anzAg) = agents;
  m->Controls.Text(Field::Edit_nRad) = "1";
  m->Controls.Text(Field::Edit_mDist) = "1";
  m->Controls.Text(Field::E_nbSize) = "5";
  return m;
}

using testing::ErrorOf;
// Hand placement, as every test file places agents (tests/support.h).
constexpr auto& PutAgent = testing::PlaceAgent;

// One agent per cell, Occupied exactly where a State is set, GroupSizes counting every agent.
::testing::AssertionResult Consistent(const Model& m) {
  std::set<std::pair<int32_t, int32_t>> seen;
  for (const TAgent& a : m.Sim.Agents) {
    const size_t i = m.Sim.Cells.Index(a.CellX, a.CellY);
    if (!seen.insert({a.CellX, a.CellY}).second || !m.Sim.Cells.Occupied[i] ||
        m.Sim.Cells.State[i] != a.Group) {
      return ::testing::AssertionFailure() << "cell " << a.CellX << "," << a.CellY;
    }
  }
  size_t occupied = 0;
  for (size_t i = 0; i < m.Sim.Cells.size(); ++i) {
    const uint8_t isOccupied = m.Sim.Cells.Occupied[i];
    if (isOccupied != (m.Sim.Cells.State[i] != 0)) {
      return ::testing::AssertionFailure() << "Occupied != State";
    }
    occupied += isOccupied;
  }
  const int64_t placed =
      std::accumulate(m.Sim.GroupSizes.begin(), m.Sim.GroupSizes.end(), int64_t{0});
  if (occupied != m.Sim.Agents.size() || placed != int64_t(m.Sim.Agents.size())) {
    return ::testing::AssertionFailure() << occupied << " occupied, " << placed << " placed";
  }
  return ::testing::AssertionSuccess();
}

// The clusters the last FindClusters found: every agent in exactly one, so each group's cluster
// sizes add up to its size.
::testing::AssertionResult ClustersHoldEveryAgent(const Model& m) {
  if (m.Sim.ClusterSizes.size() != size_t(m.Sim.GroupCount)) {
    return ::testing::AssertionFailure() << m.Sim.ClusterSizes.size() << " groups of clusters";
  }
  for (size_t g = 0; g < m.Sim.ClusterSizes.size(); ++g) {
    int64_t agents = 0;
    for (const int32_t size : m.Sim.ClusterSizes[g]) agents += size;
    if (agents != m.Sim.GroupSizes.at(g)) {
      return ::testing::AssertionFailure() << "group " << g + 1 << ": " << agents
                                           << " in clusters, " << m.Sim.GroupSizes[g] << " agents";
    }
  }
  return ::testing::AssertionSuccess();
}

class CountingCanvas final : public Canvas {
 public:
  explicit CountingCanvas(int* shapes) : shapes_(shapes) {}
  void SetPen(int, TColor) override {}
  void SetBrush(TColor) override {}
  void Rectangle(int, int, int, int) override { ++*shapes_; }
  void Ellipse(int, int, int, int) override { ++*shapes_; }
  void MoveTo(int, int) override {}
  void LineTo(int, int) override {}

 private:
  int* shapes_;
};

// Everything a step reads or writes, to compare two runs.
struct Snapshot {
  std::vector<int32_t> ints;
  std::vector<double> reals;
  std::string label;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const Model& m) {
  Snapshot s;
  s.ints = {m.Sim.ColCount,        m.Sim.RowCount,     m.Sim.CellSize,
            m.Sim.NeighbourRadius, m.Sim.MoveDistance, m.Sim.StepCount};
  s.ints.insert(s.ints.end(), {m.Sim.GroupCount, m.Sim.TileSize, m.Sim.StopStep, m.Sim.Threshold});
  s.ints.insert(s.ints.end(), {int32_t(m.Sim.Rng.State()), int32_t(m.Sim.Agents.size())});
  s.ints.insert(s.ints.end(), m.Sim.GroupSizes.begin(), m.Sim.GroupSizes.end());
  const CellSpace& cells = m.Sim.Cells;
  for (size_t i = 0; i < cells.size(); ++i) {
    const std::vector<double> weights = m.Sim.NeighbourWeightsOf(cells.XOf(i), cells.YOf(i));
    s.ints.insert(s.ints.end(), {cells.State[i], int32_t(cells.Occupied[i]), cells.Street[i],
                                 int32_t(weights.size())});
    s.reals.insert(s.reals.end(), {cells.SimilarShare[i], cells.Weight[i]});
    s.reals.insert(s.reals.end(), weights.begin(), weights.end());
  }
  for (const TAgent& a : m.Sim.Agents) {
    s.ints.insert(s.ints.end(), {a.CellX, a.CellY, a.Group, a.Satisfied, a.PosX, a.PosY});
  }
  s.label = m.Window.Lbl_cellS;
  return s;
}

TEST(Lcg, FirstDrawsForKnownSeeds) {
  Lcg rng(0);
  EXPECT_EQ(rng.Random(100), 0);  // seed 1
  EXPECT_EQ(rng.State(), 1u);
  EXPECT_EQ(rng.Random(100), 3);  // seed 134775814
  EXPECT_EQ(rng.Random(6), 5);    // seed 3698175007
  EXPECT_EQ(rng.RandomReal(), 870078620 / kTwoTo32);

  rng.Seed(12345);
  EXPECT_EQ(rng.Random(1000), 385);  // seed 1655067934
  EXPECT_EQ(rng.RandomReal(), 1242767767 / kTwoTo32);
  EXPECT_EQ(rng.Random(100), 7);                  // seed 342459380
  EXPECT_EQ(rng.Random(2147483647), 1188868577);  // seed 2377737157, no 32-bit overflow
  EXPECT_EQ(rng.State(), 2377737157u);
  EXPECT_LT(Lcg(0xFFFFFFFFu).RandomReal(), 1.0);
}

TEST(Lcg, RandomBetweenAndChangeHeading) {
  Lcg rng(12345);
  EXPECT_EQ(RandomBetween(rng, -55, 54), -13);  // Round(0.38535 * 110 - 55)
  EXPECT_EQ(RandomBetween(rng, -55, 54), -23);
  rng.Seed(12345);
  TAgent agent;
  agent.ChangeHeading(rng, 180, 54);  // x is drawn before y
  EXPECT_EQ(agent.HeadingX, -13);
  EXPECT_EQ(agent.HeadingY, -23);

  // Distance 0: -1, 0, +1 with 1/4, 1/2, 1/4.
  constexpr int kDraws = 40000;
  std::map<int32_t, double> offsets;
  for (int i = 0; i < kDraws; ++i) {
    agent.ChangeHeading(rng, 180, 0);
    offsets[agent.HeadingX] += 0.5 / kDraws;
    offsets[agent.HeadingY] += 0.5 / kDraws;
  }
  ASSERT_EQ(offsets.size(), 3u);
  EXPECT_NEAR(offsets[-1], 0.25, 0.01);
  EXPECT_NEAR(offsets[0], 0.5, 0.01);
  EXPECT_NEAR(offsets[1], 0.25, 0.01);
}

// The integer rounding against the doubles it stands for: ties and both ends of the exact range.
TEST(Lcg, RoundedBetweenAsInDoubles) {
  auto doubles = [](uint32_t draw, int32_t a, int32_t b) {
    const double v = std::nearbyint(draw / kTwoTo32 * double(int64_t{b} - a + 1) + a);
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
  };
  const std::vector<std::pair<int32_t, int32_t>> ranges = {{-1, 0},
                                                           {-2, 1},
                                                           {0, 0},
                                                           {5, 5},
                                                           {-55, 54},
                                                           {3, 1000},
                                                           {-524289, 524288},
                                                           {-(1 << 20), 0},
                                                           {1 << 20, (1 << 21) - 1},
                                                           {-(1 << 20) - 1, 1 << 20},
                                                           {INT32_MIN, INT32_MAX - 1},
                                                           {7, -9}};
  Lcg rng(99);
  for (const auto& [a, b] : ranges) {
    const int64_t span = int64_t{b} - a + 1;
    std::vector<uint32_t> draws = {0, 1, 1u << 31, 0xFFFFFFFFu};
    for (int i = 0; i < 2000; ++i) {
      draws.push_back(rng.Next());
      // Draws whose product with the span lies at or beside a half.
      const uint64_t tie =
          ((uint64_t(rng.Next() % 64) << 32) + (1u << 31)) / uint64_t(span > 0 ? span : 1);
      for (uint64_t d : {tie - 1, tie, tie + 1}) draws.push_back(uint32_t(d));
    }
    for (uint32_t d : draws) {
      ASSERT_EQ(RoundedBetween(d, a, b), doubles(d, a, b)) << a << ".." << b << " draw " << d;
    }
  }
}

// Tries drawn several at a time (four, or eight with AVX2) must leave the generator, the heading
// and the target exactly as the tries one by one: empty, half-full and full worlds, streets,
// distances past half the grid.
TEST(Lcg, TriesOfATurnAreTheTriesOneByOne) {
  const bool wide = WideTriesAvailable();
  for (int world = 0; world < 32; ++world) {
    SetWideTries(world >= 16);
    Model m;
    m.Sim.PanelWidth = m.Sim.PanelHeight = 60;
    m.Sim.ClockSeed = [world] { return uint32_t(world + 1); };
    m.Controls.Text(Field::Edit_cellSiz) = "2";
    m.Controls.Text(Field::Edit_anzAg) = std::to_string(std::array{0, 450, 855, 899}[world % 4]);
    m.Controls.Text(Field::Edit_mDist) = std::to_string(std::array{1, 5, 14, 40}[world % 16 / 4]);
    m.Controls.CB_strOcc = world % 3 == 0;
    m.StartProgram(world % 2 ? StreetLayout::Grid : StreetLayout::None);
    for (size_t i = 0; i < std::min<size_t>(m.Sim.Agents.size(), 40); ++i) {
      TAgent expected = m.Sim.Agents[i];
      Lcg rng = m.Sim.Rng;
      bool found = false;
      GridPos last;
      for (int tries = 0; tries < 1000 && !found; ++tries) {
        expected.ChangeHeading(rng, 180, m.Sim.MoveDistance);
        last = m.Sim.WrapToGrid(int64_t(expected.CellX) + expected.HeadingX,
                                int64_t(expected.CellY) + expected.HeadingY);
        const size_t t = m.Sim.Cells.Index(last.x, last.y);
        found = !m.Sim.Cells.Occupied[t] && (m.Controls.CB_strOcc || m.Sim.Cells.Street[t] == 0);
      }
      GridPos target;
      ASSERT_EQ(m.Sim.DrawTarget(m.Sim.Agents[i], m.Controls.CB_strOcc, target), found) << world;
      EXPECT_EQ(m.Sim.Rng.State(), rng.State()) << world << " agent " << i;
      EXPECT_EQ(m.Sim.Agents[i].HeadingX, expected.HeadingX) << world << " agent " << i;
      EXPECT_EQ(m.Sim.Agents[i].HeadingY, expected.HeadingY) << world << " agent " << i;
      EXPECT_EQ(target.x, last.x) << world << " agent " << i;
      EXPECT_EQ(target.y, last.y) << world << " agent " << i;
    }
  }
  SetWideTries(wide);
}

// Offsets at and beside a half round as one by one in the even and the odd lanes: seeds are chosen
// so that such a draw falls on the last two tries of a batch; one cell is free, the one the
// second-last try aims at.
TEST(Lcg, WideTriesRoundHalvesAsOneByOne) {
  if (!WideTriesAvailable()) GTEST_SKIP() << "no AVX2";
  constexpr int32_t kSide = 64;
  const std::vector<int32_t> street(kSide * kSide, 0);
  constexpr std::array<LcgJump, 16> jumps = LcgJumps<16>();
  for (int32_t distance : {1, 3, 5, 20}) {
    const HeadingRange range(distance);
    for (size_t draws = 13; draws <= 16; ++draws) {
      uint32_t inverse = jumps[draws - 1].mul;  // Newton's iteration for the inverse mod 2^32
      for (int i = 0; i < 5; ++i) inverse *= 2 - jumps[draws - 1].mul * inverse;
      for (uint64_t m = 0; m < 6; ++m) {
        const uint64_t tie = ((m << 32) + (1u << 31)) / uint64_t(range.Span());
        for (uint64_t d : {tie - 1, tie, tie + 1}) {
          const uint32_t seed = (uint32_t(d) - jumps[draws - 1].add) * inverse;
          Lcg rng(seed);
          std::array<size_t, 8> aimed{};
          std::array<std::array<int32_t, 4>, 8> tries{};
          for (size_t j = 0; j < 8; ++j) {
            const int32_t dx = range.Draw(rng), dy = range.Draw(rng);
            const int32_t tx = (3 + dx + kSide) % kSide, ty = (60 + dy + kSide) % kSide;
            tries[j] = {dx, dy, tx, ty};
            aimed[j] = size_t(ty) * kSide + size_t(tx);
          }
          std::vector<uint8_t> occupied(street.size(), 1);
          occupied[aimed[6]] = 0;
          const size_t first =
              size_t(std::find(aimed.begin(), aimed.end(), aimed[6]) - aimed.begin());
          Lcg expected(seed);
          for (size_t j = 0; j <= first; ++j) expected.Next(), expected.Next();
          const TryOutcome o = WideTries({occupied.data(), street.data(), false, kSide, kSide}, 3,
                                         60, seed, range.Span(), range.Low(), 1);
          ASSERT_TRUE(o.found);
          EXPECT_EQ(o.seed, expected.State()) << distance << " draw " << d;
          EXPECT_EQ((std::array{o.dx, o.dy, o.tx, o.ty}), tries[first])
              << distance << " draw " << d;
        }
      }
    }
  }
}

TEST(Conversions, IntegerTexts) {
  EXPECT_EQ(StrToInt("12000"), 12000);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ErrorOf([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { StrToInt(""); }), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
  for (const char* bad :
       {"-2147483649", "99999999999999999999", "18446744073709551617", "4294967296", "+", "-", " 5",
        "5 ", "1.5", "1,5", "1e3", "0x10", "12a", "--1"}) {
    EXPECT_EQ(ErrorOf([bad] { StrToInt(bad); }),
              "'" + std::string(bad) + "' is not a valid integer value");
  }
}

TEST(Conversions, WeightTexts) {
  EXPECT_DOUBLE_EQ(StrToFloat("0,33"), 0.33);
  EXPECT_DOUBLE_EQ(StrToFloat("0.33"), 0.33);
  EXPECT_DOUBLE_EQ(StrToFloat("8"), 8);
  EXPECT_DOUBLE_EQ(StrToFloat("-1,5"), -1.5);
  EXPECT_DOUBLE_EQ(StrToFloat("2,5E-1"), 0.25);
  EXPECT_EQ(ErrorOf([] { StrToFloat("nan"); }), "'nan' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([] { StrToFloat(""); }), "'' is not a valid floating point value");
  for (const char* bad : {"inf", "-inf", "infinity", "1e400", "abc", "1,000.5", "1.000,5", "0x1p3",
                          "1e", ",", "1..2"}) {
    EXPECT_EQ(ErrorOf([bad] { StrToFloat(bad); }),
              "'" + std::string(bad) + "' is not a valid floating point value");
  }
}

TEST(ModelSetup, DefaultRunAndAbsurdMemory) {
  Model m;
  m.Sim.ClockSeed = [] { return 1234u; };
  m.CreateMainWindow();
  EXPECT_EQ(m.Sim.ColCount, 116);
  EXPECT_EQ(m.Sim.RowCount, 116);
  EXPECT_EQ(m.Window.Lbl_cellS, "116 x 116 = 13456");
  EXPECT_EQ(m.Window.Lbl_P, "30");
  EXPECT_EQ(m.Sim.Agents.size(), 12001u);
  EXPECT_EQ(m.Sim.StepCount, 0);
  EXPECT_EQ(
      (std::vector<int32_t>{m.Sim.GroupCount, m.Sim.StopStep, m.Sim.TileSize, m.Sim.Threshold}),
      (std::vector<int32_t>{6, 500, 20, 30}));
  EXPECT_EQ(m.Sim.GroupSizes.size(), 6u);
  EXPECT_TRUE(Consistent(m));
  EXPECT_EQ(m.Sim.NeighbourWeightsOf(50, 50).size(), 121u);
  EXPECT_EQ(m.Sim.NeighbourWeightsOf(0, 0).size(), 36u);  // clipped, not wrapped
  for (const TAgent& a : m.Sim.Agents) {
    ASSERT_TRUE(!a.Satisfied && a.PosX == a.CellX * 6 + 3 && a.PosY == a.CellY * 6 + 3 &&
                a.Radius == 2 && a.Color == m.Sim.GroupColours[size_t(a.Group - 1)]);
  }

  // 481,636 cells with 2001^2 weights each must be refused before anything is freed. Only the
  // literal engine stores those lists; the fast one would fit this run in memory.
  m.Sim.EngineChoice = EngineKind::Literal;
  m.Controls.Text(Field::Edit_cellSiz) = "1";
  m.Controls.Text(Field::Edit_nRad) = "1000";
  const std::string message = ErrorOf([&] { m.SetUpRun(); });
  EXPECT_NE(message.find("memory"), std::string::npos) << message;
  EXPECT_EQ(m.Sim.Agents.size(), 12001u);
  EXPECT_EQ(m.Sim.ColCount, 116);
  EXPECT_EQ(m.Window.Lbl_cellS, "116 x 116 = 13456");
  m.Sim.EngineChoice = EngineKind::Fast;

  m.Controls.Text(Field::Edit_cellSiz) = "6";
  m.Controls.Text(Field::Edit_nRad) = "5";
  m.Controls.CB_actiGrow = true;
  m.SetUpRun();
  EXPECT_EQ(m.Sim.Agents.size(), 101u);
}

TEST(ModelSetup, GridFromPanelAndCellSize) {
  struct Case {
    int32_t width, height;
    const char* cellSize;
    int32_t cols, rows, agentRadius, halfCell;
    const char* label;
  } cases[] = {
      {694, 694, "6", 116, 116, 2, 3, "116 x 116 = 13456"},  // 115.67 rounds up
      {694, 694, "4", 174, 174, 1, 2, "174 x 174 = 30276"},
      {694, 694, "34", 20, 20, 16, 17, "20 x 20 = 400"},
      {18, 10, "4", 4, 2, 1, 2, "2 x 4 = 8"},  // 4.5 -> 4 and 2.5 -> 2: halves go to even
      {10, 10, "1", 10, 10, -1, 1, "10 x 10 = 100"},
      {10, 10, "2", 5, 5, 0, 1, "5 x 5 = 25"},
      {14, 14, "7", 2, 2, 2, 4, "2 x 2 = 4"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.width) + " / " + k.cellSize);
    Model m;
    m.Sim.PanelWidth = k.width;
    m.Sim.PanelHeight = k.height;
    m.Controls.Text(Field::Edit_cellSiz) = k.cellSize;
    m.Controls.Text(Field::Edit_anzAg) = "3";
    m.Controls.Text(Field::Edit_nRad) = "1";
    m.CreateMainWindow();
    EXPECT_EQ(m.Sim.ColCount, k.cols);
    EXPECT_EQ(m.Sim.RowCount, k.rows);
    EXPECT_EQ(m.Sim.AgentRadius, k.agentRadius);
    EXPECT_EQ(m.Sim.HalfCell, k.halfCell);
    EXPECT_EQ(m.Window.Lbl_cellS, k.label);
    const TCell& last = m.Sim.CellAt(k.cols - 1, k.rows - 1);
    EXPECT_EQ(last.PositionX, (k.cols - 1) * m.Sim.CellSize + k.halfCell);
    EXPECT_EQ(last.PositionY, (k.rows - 1) * m.Sim.CellSize + k.halfCell);
    EXPECT_EQ(last.Size, k.halfCell);
  }
}

TEST(EditChecks, RewritesUseTheLastSetupsGrid) {
  EXPECT_EQ(CheckAgentCount("13456", 116, 116), "");
  EXPECT_EQ(CheckAgentCount("2147483647", 116, 116), "12783");
  EXPECT_EQ(CheckAgentCount("-2147483648", 116, 116), "");  // compared in 64 bits

  Model m;
  m.Controls.Text(Field::Edit_anzAg) = "10";
  m.Controls.Text(Field::Edit_nRad) = "1";
  m.CreateMainWindow();
  std::vector<Field> rewritten;
  m.Controls.onFieldRewritten = [&](Field f) { rewritten.push_back(f); };
  auto enter = [&](Field f, const char* text, auto handler) {
    m.Controls.Text(f) = text;
    handler();
    return m.Controls.Text(f);
  };
  auto agents = [&] { m.Edit_anzAgChange(); };
  auto moveDistance = [&] { m.Edit_mDistChange(); };
  EXPECT_EQ(enter(Field::Edit_anzAg, "20000", agents), "12783");  // 13456 - Round(672.8)
  EXPECT_EQ(enter(Field::Edit_anzAg, "-1", agents), "-1");
  EXPECT_EQ(enter(Field::Edit_cellSiz, "40", [&] { m.Edit_cellSizChange(); }), "34");
  EXPECT_EQ(enter(Field::Edit_cellSiz, "0", [&] { m.Edit_cellSizChange(); }), "1");
  EXPECT_EQ(enter(Field::Edit_anzGr, "0", [&] { m.Edit_anzGrChange(); }), "1");
  EXPECT_EQ(enter(Field::Edit_nRad, "0", [&] { m.Edit_nRadChange(); }), "1");
  EXPECT_EQ(enter(Field::Edit_mDist, "59", moveDistance), "57");
  EXPECT_EQ(enter(Field::Edit_mDist, "58", moveDistance), "58");
  m.Controls.Text(Field::E_growRate) = "20000";
  m.Edit_anzAgChange(Field::E_growRate);
  EXPECT_EQ(m.Controls.Text(Field::E_growRate), "12783");
  EXPECT_EQ(rewritten, (std::vector<Field>{Field::Edit_anzAg, Field::Edit_cellSiz,
                                           Field::Edit_cellSiz, Field::Edit_anzGr, Field::Edit_nRad,
                                           Field::Edit_mDist, Field::E_growRate}));
  // A text that is no integer fails the check and stays as typed.
  m.Controls.Text(Field::E_startGrowWith) = "ten";
  EXPECT_EQ(ErrorOf([&] { m.Edit_anzAgChange(Field::E_startGrowWith); }),
            "'ten' is not a valid integer value");
  EXPECT_EQ(m.Controls.Text(Field::E_startGrowWith), "ten");

  // A typed cell size changes nothing until the next setup.
  m.Controls.Text(Field::Edit_cellSiz) = "4";
  EXPECT_EQ(enter(Field::Edit_mDist, "59", moveDistance), "57");
  m.Controls.Text(Field::Edit_anzAg) = "10";
  m.SetUpRun();
  ASSERT_EQ(m.Sim.RowCount, 174);
  EXPECT_EQ(enter(Field::Edit_mDist, "59", moveDistance), "59");
  EXPECT_EQ(enter(Field::Edit_anzAg, "20000", agents), "20000");
  EXPECT_EQ(enter(Field::Edit_anzAg, "30277", agents), "28762");  // 30276 - Round(1513.8)
}

TEST(ModelSetup, FailedSetupKeepsTheOldRunSteppable) {
  auto make = [] {
    auto m = SmallModel(12, 10, "40");
    m->Controls.Text(Field::Edit_nRad) = "2";
    m->Controls.Text(Field::Edit_mDist) = "3";
    m->Controls.TrB_thresh = 60;
    m->CreateMainWindow();
    m->AdvanceOneStep();
    m->AdvanceOneStep();
    return m;
  };
  auto a = make();
  auto b = make();
  const Snapshot before = Take(*a);
  ASSERT_EQ(before, Take(*b));
  const uint64_t resets = a->Analysis.ResetCount;

  struct Case {
    Field field;
    const char* text;
    std::string message;
    bool grow = false;
  } cases[] = {
      {Field::Edit_cellSiz, "6x", "'6x' is not a valid integer value"},
      {Field::Edit_cellSiz, "0", "cell size 0 is below 1"},
      {Field::Edit_nRad, "", "'' is not a valid integer value"},
      {Field::Edit_mDist, "9999999999", "'9999999999' is not a valid integer value"},
      {Field::Edit_anzGr, "two", "'two' is not a valid integer value"},
      {Field::Edit_anzGr, "0", "number of groups 0 is below 1"},
      {Field::Edit_anzAg, "1e3", "'1e3' is not a valid integer value"},
      {Field::E_startGrowWith, "abc", "'abc' is not a valid integer value", true},
      {Field::E_nbSize, "-", "'-' is not a valid integer value"},
      {Field::E_nbSize, "0", "'0' is not a valid grid size: it must be at least 1"},
      {Field::E_stopT, "5.5", "'5.5' is not a valid integer value"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(FieldName(k.field)) + " = '" + k.text + "'");
    const std::string old = a->Controls.Text(k.field);
    a->Controls.Text(k.field) = k.text;
    a->Controls.CB_actiGrow = k.grow;
    EXPECT_EQ(ErrorOf([&] { a->SetUpRun(); }), k.message);
    a->Controls.Text(k.field) = old;
    a->Controls.CB_actiGrow = false;
    EXPECT_EQ(Take(*a), before);
  }
  // The first bad field read decides the message.
  a->Controls.Text(Field::Edit_cellSiz) = "x";
  a->Controls.Text(Field::Edit_nRad) = "y";
  EXPECT_EQ(ErrorOf([&] { a->SetUpRun(); }), "'x' is not a valid integer value");
  a->Controls.Text(Field::Edit_cellSiz) = "6";
  a->Controls.Text(Field::Edit_nRad) = "2";

  // Row 4 is read at every position; row 1 (-3) only once a -3 street exists.
  auto& weights = a->Controls.SG_weight[1];
  weights[4] = "1;0";
  EXPECT_EQ(ErrorOf([&] { a->SetUpRun(); }), "'1;0' is not a valid floating point value");
  weights[4] = "1";
  weights[1] = "zero";
  a->Sim.StreetTypeAt(4, 4) = -3;
  EXPECT_EQ(ErrorOf([&] { a->SetUpRun(); }), "'zero' is not a valid floating point value");
  a->Sim.StreetTypeAt(4, 4) = 0;
  EXPECT_EQ(Take(*a), before);
  EXPECT_EQ(a->Analysis.ResetCount, resets);

  for (int i = 0; i < 3; ++i) {
    a->AdvanceOneStep();
    b->AdvanceOneStep();
  }
  EXPECT_EQ(a->Sim.StepCount, 5);
  EXPECT_EQ(Take(*a), Take(*b));
  EXPECT_TRUE(Consistent(*a));

  // Without a -3 street the bad row is never read, so the setup goes through.
  EXPECT_EQ(ErrorOf([&] { a->SetUpRun(); }), "(no error)");
  weights[1] = "0";
  b->SetUpRun();
  EXPECT_EQ(Take(*a), Take(*b));
  EXPECT_EQ(a->Sim.StepCount, 0);
}

TEST(ModelSetup, SeedAndStreetCodesCarryOver) {
  auto a = SmallModel(10, 10, "50", 99);
  auto b = SmallModel(10, 10, "50", 99);
  a->CreateMainWindow();
  b->CreateMainWindow();
  const Snapshot initial = Take(*a);
  EXPECT_EQ(initial, Take(*b));
  a->AdvanceOneStep();
  b->AdvanceOneStep();
  EXPECT_EQ(Take(*a), Take(*b));
  a->SetUpRun();  // reseeded: the same initial run again
  EXPECT_EQ(Take(*a), initial);
  a->Sim.ClockSeed = [] { return 100u; };
  a->SetUpRun();
  EXPECT_NE(Take(*a), initial);

  // Street codes survive a setup with the same grid and are cut where the grid shrinks.
  a->Sim.StreetTypeAt(2, 3) = -2;
  a->Sim.StreetTypeAt(8, 9) = 3;
  a->Controls.Text(Field::Edit_anzAg) = "150";
  a->SetUpRun();
  EXPECT_EQ(a->Sim.CellAt(2, 3).Street, -2);
  EXPECT_EQ(a->Sim.CellAt(8, 9).Street, 3);
  EXPECT_EQ(a->Window.Lbl_strCell, "2");
  EXPECT_EQ(a->Sim.Agents.size(), 98u);  // every cell but the two street cells
  EXPECT_FALSE(a->Sim.CellAt(2, 3).Occupied);
  EXPECT_FALSE(a->Sim.CellAt(8, 9).Occupied);
  EXPECT_TRUE(Consistent(*a));
  a->Controls.CB_strOcc = true;
  a->SetUpRun();
  EXPECT_EQ(a->Sim.Agents.size(), 100u);
  EXPECT_TRUE(Consistent(*a));

  a->Controls.Text(Field::Edit_cellSiz) = "12";
  a->SetUpRun();
  ASSERT_EQ(a->Sim.ColCount, 5);
  EXPECT_EQ(a->Sim.StreetTypes.size(), 25u);
  EXPECT_EQ(a->Sim.CellAt(2, 3).Street, -2);
  a->Controls.Text(Field::Edit_cellSiz) = "6";
  a->SetUpRun();
  EXPECT_EQ(a->Sim.CellAt(2, 3).Street, -2);
  EXPECT_EQ(a->Sim.CellAt(8, 9).Street, 0);
  EXPECT_EQ(a->Window.Lbl_strCell, "1");
}

TEST(Placement, AgentCountsAndFullGrids) {
  struct Case {
    const char* entry;
    size_t agents;
  } cases[] = {{"0", 1}, {"4", 5}, {"8", 9}, {"20", 9}, {"-1", 0}, {"-2147483648", 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.entry);
    auto m = SmallModel(3, 3, k.entry);
    m->CreateMainWindow();
    EXPECT_EQ(m->Sim.Agents.size(), k.agents);
    EXPECT_TRUE(Consistent(*m));
  }

  // On a full grid nobody finds a target: all stay, all count as movers, no State is overwritten.
  auto full = SmallModel(3, 3, "8");
  full->Controls.TrB_thresh = 100;
  full->CreateMainWindow();
  std::vector<int32_t> states;
  for (const TCell& c : full->Sim.Cells) states.push_back(c.State);
  for (int step = 0; step < 2; ++step) {
    full->AdvanceOneStep();
    EXPECT_EQ(full->Sim.MoversInStep, 9);
  }
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(full->Sim.Cells[i].State, states[i]);
    EXPECT_GT(full->Sim.Cells[i].SimilarShare, 0);  // each home was evaluated
  }
  EXPECT_TRUE(Consistent(*full));

  // A huge radius on a small grid gives the same lists as one that just covers it.
  auto wide = SmallModel(3, 3, "3");
  auto huge = SmallModel(3, 3, "3");
  wide->Controls.Text(Field::Edit_nRad) = "2";
  huge->Controls.Text(Field::Edit_nRad) = "2147483647";
  huge->Controls.Text(Field::Edit_mDist) = "2147483647";
  wide->CreateMainWindow();
  huge->CreateMainWindow();
  for (size_t i = 0; i < 9; ++i) {
    const int32_t x = huge->Sim.Cells.XOf(i), y = huge->Sim.Cells.YOf(i);
    EXPECT_EQ(huge->Sim.NeighbourWeightsOf(x, y), wide->Sim.NeighbourWeightsOf(x, y));
  }
  for (int i = 0; i < 3; ++i) huge->AdvanceOneStep();
  EXPECT_TRUE(Consistent(*huge));
}

TEST(Evaluation, EmptyCellRulesWeightsAndClipping) {
  auto m = SmallModel(5, 5, "-1");
  m->CreateMainWindow();
  ASSERT_TRUE(m->Sim.Agents.empty());
  PutAgent(*m, 2, 2, 1);
  auto share = [&](EmptyCellRule rule, int x, int y) {
    m->Controls.emptyCellRule = rule;
    return m->Sim.EvaluateCell(x, y);
  };
  EXPECT_EQ(share(EmptyCellRule::DoNotCount, 2, 2), 100);
  EXPECT_EQ(m->Sim.CellAt(2, 2).SimilarShare, 100);
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::CountAsDifferent, 2, 2), 1.0 / 9.0 * 100);
  EXPECT_EQ(m->Sim.CellAt(2, 2).OtherWeight, 8);
  EXPECT_EQ(share(EmptyCellRule::CountAsSimilar, 2, 2), 100);
  EXPECT_EQ(m->Sim.CellAt(2, 2).SimilarWeight, 9);

  // Clipped at the border: a corner sees 4 positions, an edge cell 6.
  PutAgent(*m, 0, 0, 1);
  m->Sim.CellsEdited();
  EXPECT_EQ(m->Sim.NeighbourWeightsOf(0, 0).size(), 4u);
  EXPECT_EQ(m->Sim.NeighbourWeightsOf(4, 2).size(), 6u);
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::CountAsDifferent, 0, 0), 25);

  PutAgent(*m, 3, 2, 2);
  m->Sim.CellsEdited();
  EXPECT_EQ(share(EmptyCellRule::DoNotCount, 2, 2), 50);
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::CountAsDifferent, 2, 2), 1.0 / 9.0 * 100);
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::CountAsSimilar, 2, 2), 8.0 / 9.0 * 100);

  // An empty cell counts 1 whatever its weight; occupied cells count their weight. Every entry
  // of (2, 2)'s list becomes 5 through its neighbours' own weights.
  for (int32_t y = 1; y <= 3; ++y) {
    for (int32_t x = 1; x <= 3; ++x) m->Sim.CellAt(x, y).Weight = 5;
  }
  m->Sim.BuildNeighbourhoodWeights();
  ASSERT_EQ(m->Sim.NeighbourWeightsOf(2, 2), std::vector<double>(9, 5.0));
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::CountAsDifferent, 2, 2), 5.0 / 17.0 * 100);
  EXPECT_DOUBLE_EQ(share(EmptyCellRule::DoNotCount, 2, 2), 50);

  EXPECT_EQ(m->Sim.WrapToGrid(-1, 0), (GridPos{4, 0}));
  EXPECT_EQ(m->Sim.WrapToGrid(5, 9), (GridPos{0, 4}));
  EXPECT_EQ(m->Sim.WrapToGrid(-11, -5), (GridPos{4, 0}));
  EXPECT_EQ(m->Sim.WrapToGrid(-2147483649LL, 2147483648LL), (GridPos{1, 3}));
  EXPECT_TRUE(m->Sim.IsOutsideGrid(-1, 0) && m->Sim.IsOutsideGrid(5, 0) &&
              m->Sim.IsOutsideGrid(0, 5));
  EXPECT_FALSE(m->Sim.IsOutsideGrid(4, 4) || m->Sim.IsOutsideGrid(0, 0));
}

TEST(Relocation, SatisfactionTest) {
  auto m = SmallModel(5, 5, "-1");
  m->CreateMainWindow();
  auto fresh = [&](int32_t threshold) {
    m->SetUpRun();
    m->TrB_threshChange(threshold);
  };
  // Both agents see one other-group neighbour: share exactly 50.
  for (int32_t threshold : {50, 49}) {
    fresh(threshold);
    PutAgent(*m, 1, 1, 1);
    PutAgent(*m, 2, 1, 2);
    m->AdvanceOneStep();
    EXPECT_EQ(m->Sim.Agents[0].Satisfied, threshold == 49);
  }
  EXPECT_TRUE(m->Sim.Agents[1].Satisfied);
  EXPECT_EQ(m->Sim.MoversInStep, 0);

  // Threshold 100: even a share of 100 is not enough.
  fresh(100);
  PutAgent(*m, 2, 2, 1);
  m->AdvanceOneStep();
  EXPECT_FALSE(m->Sim.Agents[0].Satisfied);
  EXPECT_EQ(m->Sim.MoversInStep, 1);
  EXPECT_EQ(m->Sim.CellAt(2, 2).SimilarShare, 100);

  // On a street cell without street occupation, never satisfied.
  fresh(0);
  PutAgent(*m, 2, 2, 1);
  m->Sim.CellAt(2, 2).Street = 1;
  m->AdvanceOneStep();
  m->AdvanceOneStep();
  EXPECT_FALSE(m->Sim.Agents[0].Satisfied);
  EXPECT_EQ(m->Sim.MoversInStep, 1);
  m->Controls.CB_strOcc = true;
  m->AdvanceOneStep();
  EXPECT_TRUE(m->Sim.Agents[0].Satisfied);
  EXPECT_EQ(m->Sim.MoversInStep, 0);
}

TEST(Relocation, TrialPlacementCountsTheHomeCellAsOther) {
  // On a 3 x 3 grid with radius 1 every target sees the centre.
  auto m = SmallModel(3, 3, "-1");
  m->Controls.TrB_thresh = 100;
  m->CreateMainWindow();
  PutAgent(*m, 1, 1, 1);
  m->AdvanceOneStep();
  const TAgent& a = m->Sim.Agents[0];
  EXPECT_EQ(a.CellX, 1);
  EXPECT_EQ(a.CellY, 1);
  EXPECT_EQ(m->Sim.MoversInStep, 1);
  const GridPos t = m->Sim.WrapToGrid(int64_t(a.CellX) + a.HeadingX, int64_t(a.CellY) + a.HeadingY);
  ASSERT_NE(t, (GridPos{1, 1}));
  EXPECT_EQ(m->Sim.CellAt(1, 1).SimilarShare, 100);
  EXPECT_EQ(m->Sim.CellAt(t.x, t.y).SimilarShare, 50);  // itself similar, the vacated home other
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) {
      if (GridPos{x, y} != t && GridPos{x, y} != GridPos{1, 1}) {
        EXPECT_EQ(m->Sim.CellAt(x, y).SimilarShare, 0);
      }
    }
  }
  EXPECT_TRUE(Consistent(*m));
}

TEST(Relocation, TargetsWrapNeighbourhoodsClip) {
  // A lone agent in the corner never finds better than its 100: it stays and keeps searching.
  auto m = SmallModel(5, 5, "-1", 3);
  m->Controls.TrB_thresh = 100;
  m->CreateMainWindow();
  PutAgent(*m, 0, 0, 1);
  for (int step = 0; step < 20; ++step) m->AdvanceOneStep();
  EXPECT_EQ(m->Sim.Agents[0].CellX, 0);
  EXPECT_EQ(m->Sim.Agents[0].CellY, 0);
  // Targets across the left or top edge land in column or row 4; seen from there, (0, 0) is
  // not a neighbour, so the candidate share is 100, not 50.
  int wrapped = 0;
  for (int32_t i = 0; i < 5; ++i) {
    for (const GridPos p : {GridPos{4, i}, GridPos{i, 4}}) {
      const double share = m->Sim.CellAt(p.x, p.y).SimilarShare;
      if (share == 0) continue;
      ++wrapped;
      EXPECT_EQ(share, 100) << p.x << "," << p.y;
    }
  }
  EXPECT_GT(wrapped, 0);

  // Empty cells as different: a corner (1/4) beats an edge (1/6) beats the inside (1/9), so a
  // lone agent walks to a corner, each move strictly better, and stays there.
  m->Controls.emptyCellRule = EmptyCellRule::CountAsDifferent;
  m->SetUpRun();
  PutAgent(*m, 2, 2, 1);
  for (int step = 0; step < 60; ++step) {
    const TAgent before = m->Sim.Agents[0];
    m->AdvanceOneStep();
    const TAgent& a = m->Sim.Agents[0];
    if (a.CellX != before.CellX || a.CellY != before.CellY) {
      EXPECT_GT(m->Sim.CellAt(a.CellX, a.CellY).SimilarShare,
                m->Sim.CellAt(before.CellX, before.CellY).SimilarShare);
    }
    EXPECT_EQ(m->Sim.MoversInStep, 1);
  }
  const TAgent& a = m->Sim.Agents[0];
  EXPECT_TRUE((a.CellX == 0 || a.CellX == 4) && (a.CellY == 0 || a.CellY == 4));
  EXPECT_EQ(m->Sim.CellAt(a.CellX, a.CellY).SimilarShare, 25);
  EXPECT_EQ(a.PosX, a.CellX * 6 + 3);
  EXPECT_EQ(a.PosY, a.CellY * 6 + 3);
  EXPECT_TRUE(Consistent(*m));
}

TEST(Relocation, PaintsOnlyWhenDrawingWhileRunning) {
  int shapes = 0;
  auto m = SmallModel(10, 10, "60");
  m->Sim.CreateCanvas = [&shapes](int, int) { return std::make_unique<CountingCanvas>(&shapes); };
  m->Controls.TrB_thresh = 100;
  m->Controls.CB_graphicUpd = false;
  m->CreateMainWindow();
  EXPECT_GE(shapes, 100 + 61);  // setup paints every cell and agent regardless
  shapes = 0;
  m->AdvanceOneStep();
  EXPECT_EQ(shapes, 0);
  m->Controls.CB_graphicUpd = true;
  m->SetUpRun();
  shapes = 0;
  m->AdvanceOneStep();
  EXPECT_GE(shapes, 61);  // every mover paints itself
}

TEST(Growth, DefaultGrowthAndFailures) {
  Model m;
  m.Sim.ClockSeed = [] { return 5u; };
  m.Controls.CB_actiGrow = true;
  m.CreateMainWindow();
  ASSERT_EQ(m.Sim.Agents.size(), 101u);
  m.AdvanceOneStep();
  EXPECT_EQ(m.Sim.Agents.size(), 111u);
  EXPECT_EQ(m.Window.Lbl_nrAgents, "110");
  EXPECT_TRUE(Consistent(m));

  // A bad text stops the step before relocation: nothing moves, StepCount stays.
  const Snapshot before = Take(m);
  m.Controls.Text(Field::E_growRate) = "ten";
  EXPECT_EQ(ErrorOf([&] { m.AdvanceOneStep(); }), "'ten' is not a valid integer value");
  EXPECT_EQ(Take(m), before);
  m.Controls.Text(Field::E_growRate) = "10";
  m.Controls.Text(Field::Edit_anzAg) = "";
  EXPECT_EQ(ErrorOf([&] { m.AdvanceOneStep(); }), "'' is not a valid integer value");
  EXPECT_EQ(Take(m), before);
  m.Controls.Text(Field::Edit_anzAg) = "12000";

  for (size_t expected = 121; expected <= 12001; expected += 10) {
    m.GrowPopulation();
    ASSERT_EQ(m.Sim.Agents.size(), expected);
  }
  m.GrowPopulation();
  EXPECT_EQ(m.Sim.Agents.size(), 12001u);
  EXPECT_EQ(m.Window.Lbl_nrAgents, "12000");
  EXPECT_TRUE(Consistent(m));
}

TEST(Growth, OvershootAndFullGrid) {
  auto g = SmallModel(20, 20, "105");
  g->Controls.CB_actiGrow = true;
  g->CreateMainWindow();
  ASSERT_EQ(g->Sim.Agents.size(), 101u);
  g->AdvanceOneStep();
  EXPECT_EQ(g->Sim.Agents.size(), 111u);  // the last addition may overshoot
  g->AdvanceOneStep();
  EXPECT_EQ(g->Sim.Agents.size(), 111u);
  g->Controls.Text(Field::Edit_anzAg) = "111";  // reached exactly: no more growth
  g->AdvanceOneStep();
  EXPECT_EQ(g->Sim.Agents.size(), 111u);

  // Only the first step evaluates before testing: a grown agent's cell was never evaluated, so
  // its first test fails even at threshold 0.
  auto z = SmallModel(10, 10, "100");
  z->Controls.CB_actiGrow = true;
  z->Controls.Text(Field::E_startGrowWith) = "0";
  z->Controls.Text(Field::E_growRate) = "5";
  z->Controls.TrB_thresh = 0;
  z->CreateMainWindow();
  z->AdvanceOneStep();
  EXPECT_EQ(z->Sim.Agents.size(), 6u);
  EXPECT_EQ(z->Sim.MoversInStep, 0);
  z->AdvanceOneStep();
  EXPECT_EQ(z->Sim.MoversInStep, 5);
  for (size_t i = 0; i < 11; ++i) EXPECT_EQ(z->Sim.Agents[i].Satisfied, i < 6);

  // A huge rate stops when the grid is full.
  auto f = SmallModel(3, 3, "1000");
  f->Controls.CB_actiGrow = true;
  f->Controls.Text(Field::E_startGrowWith) = "0";
  f->Controls.Text(Field::E_growRate) = "2147483647";
  f->CreateMainWindow();
  ASSERT_EQ(f->Sim.Agents.size(), 1u);
  f->AdvanceOneStep();
  EXPECT_EQ(f->Sim.Agents.size(), 9u);
  f->AdvanceOneStep();
  EXPECT_EQ(f->Sim.Agents.size(), 9u);
  EXPECT_TRUE(Consistent(*f));
}

TEST(StopStep, EqualityOnly) {
  auto m = SmallModel(3, 3, "2");
  m->Controls.Text(Field::E_stopT) = "3";
  m->CreateMainWindow();
  ASSERT_EQ(m->Sim.StopStep, 3);
  m->Timer1Timer();
  m->Timer1Timer();
  EXPECT_TRUE(m->Window.Timer1Enabled && !m->Window.StopButtonRed);
  m->AdvanceOneStep();
  EXPECT_EQ(m->Sim.StepCount, 3);
  EXPECT_TRUE(!m->Window.Timer1Enabled && m->Window.StopButtonRed);
  EXPECT_EQ(m->Window.lbl_Steps, "3");

  // Started again past the stop step, the run goes on.
  m->Window.Timer1Enabled = true;
  m->Window.StopButtonRed = false;
  m->Controls.Text(Field::E_stopT) = "2";
  m->E_stopTChange();
  for (int step = 4; step <= 6; ++step) m->Timer1Timer();
  EXPECT_TRUE(m->Window.Timer1Enabled);
  m->Controls.Text(Field::E_stopT) = "7";
  m->E_stopTChange();
  m->Timer1Timer();
  EXPECT_TRUE(!m->Window.Timer1Enabled && m->Window.StopButtonRed);

  // A stop step of 0 or below is never reached: the run goes on until stopped.
  for (const char* never : {"0", "-5"}) {
    m->Controls.Text(Field::E_stopT) = never;
    m->B_setupClick();
    m->Window.Timer1Enabled = true;
    for (int step = 0; step < 3; ++step) m->Timer1Timer();
    EXPECT_TRUE(m->Window.Timer1Enabled) << never;
    EXPECT_EQ(m->Sim.StepCount, 3);
  }
}

// Steps per second over the last second of running, or since the run started when shorter.
TEST(FrameRate, StepsPerSecondOfTheLastSecondOfRunning) {
  auto m = SmallModel(3, 3, "2");
  uint32_t tick = 0xFFFFFF00u;  // the tick wraps on the way: differences are taken unsigned
  m->TickCount = [&tick] { return tick; };
  m->CreateMainWindow();
  m->Sim.StopStep = 1 << 30;
  auto caption = [&] { return m->Window.Caption; };
  const auto fps = [](int n) { return "Group seperation || fps= " + std::to_string(n); };

  // A short burst that the stop ends: 465 steps in 31 ms after the start.
  m->RunStarted();
  for (int i = 0; i < 465; ++i) {
    tick = 0xFFFFFF00u + 1 + uint32_t(i) / 15;
    m->UpdateFrameRate(i == 464);
  }
  EXPECT_EQ(caption(), fps(15000));

  // Paused, ten seconds later resumed at 2,000 steps a second for three seconds: the pause is no
  // running time, the figure is renewed every 100 ms and counts only the last second.
  m->B_stopClick();  // the model runs from its creation: this pauses and shows the figure
  EXPECT_EQ(caption(), fps(15000));
  tick += 10000;
  m->B_stopClick();
  const uint32_t start = tick;
  for (int i = 1; i <= 6001; ++i) {
    tick = start + uint32_t(i) / 2;
    m->UpdateFrameRate(i == 6001);
    if (i == 199) {
      EXPECT_EQ(caption(), fps(15000)) << "renewed before 100 ms";
    }
    if (i == 250) {
      EXPECT_EQ(caption(), fps(2000));
    }
  }
  EXPECT_EQ(caption(), fps(2000));
  EXPECT_LE(m->RecentSteps.size(), 1100u);

  // A step that reaches the stop step shows the figure; a setup does not reset it.
  m->Sim.StopStep = m->Sim.StepCount + 1;
  tick += 500;
  m->AdvanceOneStep();
  EXPECT_EQ(caption(), fps(1001));
  m->SetUpRun();
  EXPECT_EQ(m->RunStartTick, start);
}

}  // namespace
}  // namespace segwork

namespace segwork {
namespace {

// A setup too large to hold twice frees the old run first, but only when nothing can fail after.
TEST(ModelSetup, LargeSetupsFreeTheOldRunOnlyWhenNothingCanFail) {
  auto normal = SmallModel(30, 30, "400");
  auto lean = SmallModel(30, 30, "400");
  lean->Sim.KeepOldRunBytes = 0;
  for (Model* m : {normal.get(), lean.get()}) {
    m->CreateMainWindow();
    m->Controls.UpD_strType = -2;
    m->Controls.CB_rndTyp = false;
    m->Sim.LayOutStreetGrid();
    m->SetUpRun();
    m->AdvanceOneStep();
  }
  EXPECT_TRUE(Take(*normal) == Take(*lean));

  // A bad row that no street needs: the lean path must not free the old run on trust.
  lean->Controls.SG_weight[1][7] = "x";
  lean->Controls.Text(Field::Edit_anzAg) = "200";
  const Snapshot before = Take(*lean);
  lean->Controls.SG_weight[1][2] = "y";  // the -2 row the grid needs
  EXPECT_EQ(ErrorOf([&] { lean->SetUpRun(); }), "'y' is not a valid floating point value");
  EXPECT_TRUE(Take(*lean) == before);
  lean->AdvanceOneStep();
  EXPECT_TRUE(Consistent(*lean));
  // Nor a seed field that holds no seed.
  lean->Controls.SG_weight[1][2] = "0,33";
  lean->Controls.SG_weight[1][7] = "8";
  lean->Sim.SeedField = "12x";
  const Snapshot seeded = Take(*lean);
  EXPECT_EQ(ErrorOf([&] { lean->SetUpRun(); }),
            "'12x' is not a valid seed: give an integer 0..4294967295");
  EXPECT_TRUE(Take(*lean) == seeded);
  lean->Sim.SeedField.clear();

  // Memory running out after the old run went leaves an empty run that still steps.
  lean->Controls.SG_weight[1][2] = "0,33";
  lean->Controls.SG_weight[1][7] = "8";
  lean->Sim.Progress = [](const char*, double) { throw std::bad_alloc(); };
  EXPECT_THROW(lean->SetUpRun(), std::bad_alloc);
  lean->Sim.Progress = nullptr;
  EXPECT_EQ(lean->Sim.Cells.size(), 0u);
  EXPECT_EQ(lean->Sim.TileSize, 5);
  for (int i = 0; i < 2; ++i) lean->AdvanceOneStep();
  lean->SetUpRun();
  EXPECT_EQ(lean->Sim.Agents.size(), 201u);
}

// Settings at the far ends of what the controls allow: each one sets up, steps and analyses, or is
// refused before anything changes.
TEST(ExtremeSettings, LargestRadiusAndSmallestGrids) {
  // Radius and move distance far beyond a 20 x 20 grid, with streets: the lists cover the grid.
  auto m = SmallModel(20, 20, "150");
  m->Controls.Text(Field::Edit_nRad) = "1000";
  m->Controls.Text(Field::Edit_mDist) = "1000";
  m->CreateMainWindow();
  m->Controls.UpD_strType = -3;
  m->Controls.CB_rndTyp = false;
  m->Sim.LayOutStreetGrid();
  m->SetUpRun();
  for (int32_t x = 0; x < 20; ++x) {
    for (int32_t y = 0; y < 20; ++y) ASSERT_EQ(m->Sim.NeighbourWeightsOf(x, y).size(), 400u);
  }
  for (int i = 0; i < 5; ++i) m->AdvanceOneStep();
  EXPECT_TRUE(Consistent(*m));
  m->FindClusters();
  EXPECT_TRUE(ClustersHoldEveryAgent(*m));

  // One cell: one agent, a step, clusters and indices.
  auto one = SmallModel(1, 1, "5");
  one->Controls.Text(Field::Edit_nRad) = "1000";
  one->Controls.Text(Field::Edit_mDist) = "1000";
  one->CreateMainWindow();
  ASSERT_EQ(one->Sim.Agents.size(), 1u);
  for (int i = 0; i < 3; ++i) one->AdvanceOneStep();
  one->FindClusters();
  EXPECT_TRUE(Consistent(*one));
  EXPECT_TRUE(ClustersHoldEveryAgent(*one));  // its one cluster, of one cell
  for (const LineSeries& s : one->Analysis.SegregationSeries) {
    for (const ChartPoint& p : s.points) EXPECT_TRUE(std::isfinite(p.y));
  }

  // A cell size that leaves no cell is refused and the run stays as it was.
  one->Controls.Text(Field::Edit_cellSiz) = "13";
  const Snapshot before = Take(*one);
  EXPECT_EQ(ErrorOf([&] { one->SetUpRun(); }), "cell size 13 leaves no cell on the panel");
  EXPECT_TRUE(Take(*one) == before);
}

TEST(ExtremeSettings, CellSizeOneOnTheDefaultPanelNeedsWhatItsEstimateSays) {
  Model m;
  m.Sim.ClockSeed = [] { return 3u; };
  m.Controls.Text(Field::Edit_cellSiz) = "1";
  [[maybe_unused]] const int64_t before = testing::ResidentKiB();
  m.CreateMainWindow();
  [[maybe_unused]] const int64_t after = testing::ResidentKiB();
  EXPECT_EQ(m.Sim.ColCount, 694);
  EXPECT_EQ(m.Window.Lbl_cellS, "694 x 694 = 481636");
  EXPECT_EQ(m.Sim.Agents.size(), 12001u);
  m.AdvanceOneStep();
  EXPECT_TRUE(Consistent(m));
#if !defined(__SANITIZE_ADDRESS__)
  const uint64_t estimate = EstimateSetupBytes(m.Sim.EngineChoice, 694, 694, 5, 12001, 6);
  EXPECT_LE(after - before, int64_t(estimate / 1024 * 5 / 4) + 16 * 1024)
      << "estimate " << estimate / 1024 << " KiB";
#endif
}

// A large array is placed fresh before it is filled: its old content must not survive.
TEST(ExtremeSettings, LargeArraysAreFilledWhateverTheyHeldBefore) {
  const size_t large = kLargeBytes / sizeof(int32_t) + 5;
  std::vector<int32_t> v{1, 2, 3};
  AssignLarge(v, large, 7);
  ASSERT_EQ(v.size(), large);
  EXPECT_EQ(std::count(v.begin(), v.end(), 7), int64_t(large));
  AssignLarge(v, 4, -1);
  EXPECT_EQ(v, std::vector<int32_t>(4, -1));
  AssignLarge(v, large + 1, 0);
  EXPECT_EQ(std::count(v.begin(), v.end(), 0), int64_t(large + 1));
}

TEST(ExtremeSettings, AThousandGroups) {
  Model m;
  m.Sim.ClockSeed = [] { return 5u; };
  m.Controls.Text(Field::Edit_anzGr) = "1000";
  m.CreateMainWindow();
  m.SetUpRun();
  ASSERT_EQ(m.Sim.GroupColours.size(), 1000u);
  for (int i = 0; i < 2; ++i) m.AdvanceOneStep();
  EXPECT_TRUE(Consistent(m));
  const AnalysisWindow& a = m.Analysis;
  ASSERT_EQ(a.SegregationSeries.size(), 1000u);
  ASSERT_EQ(a.DissimiGrid.size(), 1001u);  // the headers, then one column per group
  for (const auto& column : a.DissimiGrid) ASSERT_EQ(column.size(), 1002u);  // and the IS row
  for (const LineSeries& s : a.SegregationSeries) {
    ASSERT_EQ(s.points.size(), 2u);
    EXPECT_TRUE(std::isfinite(s.points.back().y));
  }
}

TEST(ExtremeSettings, FullGridsAndStreetsEverywhere) {
  // As many agents as cells: all but the last find a cell, and nobody can move.
  auto full = SmallModel(30, 30, "900");
  full->Controls.TrB_thresh = 100;
  full->CreateMainWindow();
  EXPECT_EQ(full->Sim.Agents.size(), 900u);
  EXPECT_EQ(full->Sim.AgentsRequested, 901);
  full->AdvanceOneStep();
  EXPECT_EQ(full->Sim.MoversInStep, 900);
  EXPECT_TRUE(Consistent(*full));

  // A street on every row and column but the last: without street occupation only the one cell
  // off the streets can be taken; with it, everyone finds a place.
  for (const bool occupation : {false, true}) {
    SCOPED_TRACE(occupation);
    auto m = SmallModel(30, 30, "300");
    m->CreateMainWindow();
    m->Controls.UpD_rows = m->Controls.UpD_cols = 30;
    m->Controls.CB_rndTyp = false;
    m->Controls.CB_strOcc = occupation;
    m->Sim.LayOutStreetGrid();
    m->SetUpRun();
    EXPECT_EQ(m->Window.Lbl_strCell, "899");
    EXPECT_EQ(m->Sim.Agents.size(), occupation ? 301u : 1u);
    for (int i = 0; i < 3; ++i) m->AdvanceOneStep();
    EXPECT_TRUE(Consistent(*m));
    m->FindClusters();
    EXPECT_TRUE(ClustersHoldEveryAgent(*m));
  }
}

}  // namespace
}  // namespace segwork

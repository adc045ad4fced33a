#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "analysis/measure_catalog.h"
#include "analysis/measures.h"
#include "analysis/spatial_measures.h"
#include "tests/support.h"

#ifdef SEGWORK_HAVE_NETCDF
#include <netcdf.h>
#endif

namespace segwork {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::Split;

// A world drawn as rows of digits, the group of each cell (0 empty).
CellSpace Drawn(const std::vector<std::string>& rows) {
  CellSpace cells;
  cells.Create(int32_t(rows[0].size()), int32_t(rows.size()), 1, 0);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const size_t i = cells.Index(int32_t(x), int32_t(y));
      cells.State[i] = rows[y][x] - '0';
      cells.Occupied[i] = cells.State[i] != 0;
    }
  }
  return cells;
}

SpatialMeasures Of(const CellSpace& cells, int32_t groups, int32_t tile) {
  std::vector<uint8_t> visited;
  return ComputeSpatialMeasures(cells, groups, tile, ClusterSizesOf(cells, visited, groups));
}

void ExpectNear(const std::optional<double>& value, double expected, const char* what) {
  ASSERT_TRUE(value.has_value()) << what;
  EXPECT_NEAR(*value, expected, 1e-12) << what;
}

TEST(SpatialMeasures, HandComputedWorlds) {
  const CellSpace checkerboard = Drawn({"1212", "2121", "1212", "2121"});
  // Tiles of one cell: each is one group.
  SpatialMeasures m = Of(checkerboard, 2, 1);
  ExpectNear(m.Entropy, 1, "H, single cells");
  ExpectNear(m.DissimilarityMulti, 1, "D, single cells");
  ExpectNear(m.Isolation[0], 1, "isolation, single cells");
  ExpectNear(m.Interaction[0 * 2 + 1], 0, "interaction, single cells");
  // Four neighbours of the other group, four diagonal ones of the same: no autocorrelation.
  ExpectNear(m.Moran[0], 0, "Moran, checkerboard");
  EXPECT_EQ(m.LargestCluster, (std::vector<int32_t>{1, 1}));
  ExpectNear(m.MeanClusterSize[1], 1, "mean cluster, checkerboard");
  // Tiles of 2x2 hold both halves evenly.
  m = Of(checkerboard, 2, 2);
  ExpectNear(m.Entropy, 0, "H, even tiles");
  ExpectNear(m.DissimilarityMulti, 0, "D, even tiles");
  ExpectNear(m.Isolation[1], 0.5, "isolation, even tiles");
  ExpectNear(m.Interaction[1 * 2 + 0], 0.5, "interaction, even tiles");

  // Two halves: each cell has 5 of its 8 neighbours in its own group, 3 across the seams.
  m = Of(Drawn({"1122", "1122", "1122", "1122"}), 2, 2);
  ExpectNear(m.Entropy, 1, "H, halves");
  ExpectNear(m.DissimilarityMulti, 1, "D, halves");
  ExpectNear(m.Isolation[0], 1, "isolation, halves");
  ExpectNear(m.Interaction[0 * 2 + 1], 0, "interaction, halves");
  ExpectNear(m.Moran[0], 0.25, "Moran, halves");
  ExpectNear(m.Moran[1], 0.25, "Moran, halves");
  EXPECT_EQ(m.LargestCluster, (std::vector<int32_t>{8, 8}));

  // One group alone: no diversity, so H, D and Moran's I have no value; the absent group has
  // no exposure and no clusters.
  m = Of(Drawn({"111", "111", "111"}), 2, 2);
  EXPECT_FALSE(m.Entropy || m.DissimilarityMulti || m.Moran[0] || m.Moran[1]);
  ExpectNear(m.Isolation[0], 1, "isolation, alone");
  ExpectNear(m.Interaction[0 * 2 + 1], 0, "interaction, alone");
  EXPECT_FALSE(m.Isolation[1] || m.Interaction[1 * 2 + 0] || m.MeanClusterSize[1]);
  EXPECT_EQ(m.LargestCluster, (std::vector<int32_t>{9, 0}));
  ExpectNear(m.MeanClusterSize[0], 9, "the torus is one cluster");

  // The top left tile is empty and left out; the bottom right one has 2 agents.
  m = Of(Drawn({"0011", "0012", "2210", "2120"}), 2, 2);
  const double E = std::log(2.0), quarter = -(0.75 * std::log(0.75) + 0.25 * std::log(0.25));
  ExpectNear(m.Entropy, 1 - (4 * quarter * 2 + 2 * E) / (10 * E), "H, empty tile");
  ExpectNear(m.DissimilarityMulti, 4.0 / (2 * 10 * 0.5), "D, empty tile");
  ExpectNear(m.Isolation[0], 0.6, "isolation, empty tile");
  ExpectNear(m.Interaction[0 * 2 + 1], 0.4, "interaction, empty tile");
  ExpectNear(m.Isolation[1], 0.6, "isolation, empty tile");
  EXPECT_EQ(m.LargestCluster, (std::vector<int32_t>{4, 3}));
  ExpectNear(m.MeanClusterSize[0], 5.0 / 2, "mean cluster, empty tile");
  ExpectNear(m.MeanClusterSize[1], 5.0 / 3, "mean cluster, empty tile");

  // The four corners are one cluster across both seams; tiles of 3 cut at the edges.
  const CellSpace corners = Drawn({"10001", "00000", "00200", "00000", "10001"});
  m = Of(corners, 2, 3);
  EXPECT_EQ(m.LargestCluster, (std::vector<int32_t>{4, 1}));
  ExpectNear(m.MeanClusterSize[0], 4, "corner cluster");
  // Each corner sees the three others, the centre sees nobody: W = 12.
  ExpectNear(m.Moran[0], 0.25, "Moran, corners");
  ExpectNear(m.Moran[1], 0.25, "Moran, corners");
  // The top left tile holds a corner and the centre; the other three one corner each.
  const double mixed = -(0.8 * std::log(0.8) + 0.2 * std::log(0.2));
  ExpectNear(m.Entropy, 1 - 2 * std::log(2.0) / (5 * mixed), "H, corners");
  ExpectNear(m.Isolation[0], 0.875, "isolation, corners");
  ExpectNear(m.Isolation[1], 0.5, "isolation, corners");
  // One tile of the whole world: every tile is the world.
  m = Of(corners, 2, 5);
  ExpectNear(m.Entropy, 0, "H, one tile");
  ExpectNear(m.Isolation[0], 0.8, "isolation, one tile");
  ExpectNear(m.Interaction[1 * 2 + 0], 0.8, "interaction, one tile");
}

// The cells of an exported CSV, per step.
std::map<int32_t, CellSpace> ReadCellsCsv(const fs::path& path) {
  std::map<int32_t, std::vector<std::vector<int32_t>>> rows;
  int32_t cols = 0, lines = 0;
  const std::vector<std::string> text = Split(ReadFile(path), '\n');
  EXPECT_EQ(text.at(0), "step,x,y,group,street");
  for (size_t k = 1; k < text.size(); ++k) {
    std::vector<int32_t> f;
    for (const std::string& field : Split(text[k], ',')) f.push_back(std::stoi(field));
    rows[f[0]].push_back(f);
    cols = std::max(cols, f[1] + 1);
    lines = std::max(lines, f[2] + 1);
  }
  std::map<int32_t, CellSpace> steps;
  for (const auto& [step, cells] : rows) {
    CellSpace& space = steps[step];
    space.Create(cols, lines, 1, 0);
    EXPECT_EQ(cells.size(), space.size());
    for (const auto& f : cells) {
      const size_t i = space.Index(f[1], f[2]);
      space.State[i] = f[3];
      space.Street[i] = f[4];
    }
  }
  return steps;
}

TEST(SpatialMeasures, RowsEqualTheMeasuresOfTheExportedCells) {
  const testing::TempDir scratch;
  const fs::path csv = scratch.Path() / "world.csv", nc = scratch.Path() / "world.nc";
  const fs::path agents = scratch.Path() / "agents.csv";
  const std::string list =
      "entropy_h,dissimilarity_multi,isolation,interaction,moran,largest_cluster,"
      "mean_cluster_size";
  const std::vector<std::string> base = {
      "run", "--seed",   "3",    "--steps",     "5",  "--agents",
      "500", "--groups", "3",    "--cell-size", "20", "--tile-size",
      "7",   "--layout", "grid", "--every",     "2"};
  const testing::Result r = testing::RunCli(testing::Plus(
      base, {"--measures", list, "--cells", csv.string(), "--agents-table", agents.string()}));
  ASSERT_EQ(r.status, 0) << r.err;
  // The usual rows are the same run: the exports and the measures do not change it.
  const testing::Result plain = testing::RunCli({base.begin(), base.end() - 2});
  EXPECT_EQ(Split(r.out, '\n').back(), Split(plain.out, '\n').back());

  const std::map<int32_t, CellSpace> steps = ReadCellsCsv(csv);
  std::vector<int32_t> written;
  for (const auto& [step, cells] : steps) written.push_back(step);
  EXPECT_EQ(written, (std::vector<int32_t>{0, 2, 4, 5}));
  const std::vector<std::string> rows = Split(r.out, '\n');
  std::vector<MeasureColumn> columns;
  std::string header = "step";
  for (const Measure* m : ParseMeasureList(list, "")) {
    for (MeasureColumn& c : ColumnsOf(*m, 3)) header += ',' + c.name, columns.push_back(c);
  }
  EXPECT_EQ(rows.at(0), header);
  bool streets = false;
  for (const int32_t step : {2, 4, 5}) {
    const CellSpace& cells = steps.at(step);
    for (size_t i = 0; i < cells.size(); ++i) streets |= cells.Street[i] != 0;
    StepMeasures m;
    m.Spatial = Of(cells, 3, 7);
    std::string row = std::to_string(step);
    for (const MeasureColumn& c : columns) {
      row += ',';
      AppendField(row, ReadColumn(c, m, 3));
    }
    EXPECT_EQ(rows.at(size_t(step)), row);
  }
  EXPECT_TRUE(streets) << "the grid layout's streets are in the export";

  // Each agent stands on a cell of its group, all agents at each written step.
  const std::vector<std::string> table = Split(ReadFile(agents), '\n');
  EXPECT_EQ(table.at(0), "step,agent,group,x,y,share,satisfied");
  std::map<int32_t, int32_t> perStep;
  for (size_t k = 1; k < table.size(); ++k) {
    const std::vector<std::string> f = Split(table[k], ',');
    const CellSpace& cells = steps.at(std::stoi(f[0]));
    EXPECT_EQ(std::stoi(f[2]), cells.State[cells.Index(std::stoi(f[3]), std::stoi(f[4]))]);
    ++perStep[std::stoi(f[0])];
  }
  EXPECT_EQ(perStep.size(), 4u);
  EXPECT_EQ(perStep[0], perStep[5]);
  EXPECT_EQ(perStep[5], std::stoi(Split(Split(plain.out, '\n').at(5), ',').at(1)));

#ifdef SEGWORK_HAVE_NETCDF
  ASSERT_EQ(testing::RunCli(testing::Plus(base, {"--cells", nc.string()})).status, 0);
  int id = -1, var = -1;
  ASSERT_EQ(nc_open(nc.c_str(), NC_NOWRITE, &id), NC_NOERR);
  size_t count[3] = {0, 0, 0};
  const char* dims[3] = {"step", "y", "x"};
  for (int d = 0; d < 3; ++d) {
    int dim = -1;
    ASSERT_EQ(nc_inq_dimid(id, dims[d], &dim), NC_NOERR);
    nc_inq_dimlen(id, dim, &count[d]);
  }
  const CellSpace& first = steps.at(0);
  ASSERT_EQ(count[0], 4u);
  ASSERT_EQ(count[1], size_t(first.RowCount));
  ASSERT_EQ(count[2], size_t(first.ColCount));
  std::vector<int> stepNumbers(4), group(first.size() * 4), street(group.size());
  nc_inq_varid(id, "step", &var);
  nc_get_var_int(id, var, stepNumbers.data());
  EXPECT_EQ(stepNumbers, (std::vector<int>{0, 2, 4, 5}));
  nc_inq_varid(id, "group", &var);
  nc_get_var_int(id, var, group.data());
  nc_inq_varid(id, "street", &var);
  nc_get_var_int(id, var, street.data());
  for (size_t k = 0; k < 4; ++k) {
    const CellSpace& cells = steps.at(stepNumbers[k]);
    EXPECT_TRUE(std::equal(cells.State.begin(), cells.State.end(), &group[k * cells.size()]));
    EXPECT_TRUE(std::equal(cells.Street.begin(), cells.Street.end(), &street[k * cells.size()]));
  }
  unsigned seed = 0;
  EXPECT_EQ(nc_get_att_uint(id, NC_GLOBAL, "seed", &seed), NC_NOERR);
  EXPECT_EQ(seed, 3u);
  char groups[8] = {};
  EXPECT_EQ(nc_get_att_text(id, NC_GLOBAL, "groups", groups), NC_NOERR);
  EXPECT_STREQ(groups, "3");
  nc_close(id);
#endif
}

TEST(SpatialMeasures, BadInputGetsOneMessageAndWritesNothing) {
  const testing::TempDir scratch;
  const fs::path dir = scratch.Path();
  const std::string cells = (dir / "c.csv").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--measures", "movers,entropy"}, "no measure is named 'entropy'; the measures: agents,"},
      {{"--measures", "steps_to_settle"}, "steps_to_settle is a measure of an experiment's runs"},
      {{"--cells", cells, "--every", "0"}, "--every 0 is below 1"},
      {{"--cells", (dir / "c.txt").string()}, "give a name ending in .csv (CSV) or .nc"},
      {{"--cells", (dir / "no" / "c.csv").string()}, "does not exist"},
      {{"--agents-table", (dir / "a.nc").string()}, "give a name ending in .csv"},
      {{"--agents-table", (dir / "no" / "a.csv").string()}, "does not exist"},
  };
  for (const auto& [args, message] : cases) {
    const testing::Result r = testing::RunCli(testing::Plus(
        {"run", "--seed", "3", "--steps", "3", "--agents", "100", "--cell-size", "20"}, args));
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(Split(r.err, '\n').size(), 1u) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir));

  // An experiment's steps_to_settle is the first step whose movers are 0, empty before it.
  const testing::Result e = testing::RunCli(
      {"experiment", "--seed", "4", "--steps", "6", "--every", "1", "--agents", "200", "--groups",
       "2", "--cell-size", "20", "--quiet", "--measures", "movers,steps_to_settle,moran"});
  ASSERT_EQ(e.status, 0) << e.err;
  std::string settled;
  const std::vector<std::string> rows = Split(e.out, '\n');
  for (size_t k = 1; k < rows.size(); ++k) {
    const std::string& row = rows[k];
    const std::vector<std::string> f = Split(row, ',');
    if (settled.empty() && f.at(5) == "0") settled = f.at(3);
    EXPECT_EQ(f.at(6), settled) << row;
    EXPECT_FALSE(f.at(7).empty()) << row;
  }
  EXPECT_FALSE(settled.empty()) << e.out;
}

}  // namespace
}  // namespace segwork

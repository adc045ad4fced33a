#include "files/saved_run.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/convert.h"
#include "core/errors.h"
#include "display/palette.h"
#include "files/atomic_file.h"
#include "files/json_reader.h"
#include "files/scenario.h"

namespace segwork {

static_assert(std::endian::native == std::endian::little, "the payload is little-endian");

using Json = nlohmann::ordered_json;

struct SavedRun {
  std::string name;
  Scenario scenario;
  RunData data;
  uint32_t generator = 0;
  std::vector<StreetLine> lines;
  BarrierWeights barriers;
  std::vector<StepMeasures> measures;
  std::optional<int64_t> lastClusterCount;
  std::vector<std::vector<int32_t>> clusterSizes;
  AnalysisWindow analysis;
};

void SavedRunDeleter::operator()(SavedRun* run) const {
  delete run;
}

GridPos SavedPanel(const SavedRun& run) {
  return {run.scenario.panelWidth, run.scenario.panelHeight};
}

namespace {

constexpr const char* kMagic = "segwork run\n";
// Version 2 ends in "\ncrc32 " and eight hex digits and a newline: the CRC-32 of every byte
// before it, header and payload. Version 1 files have none; their payload has zlib's own check.
constexpr const char* kTrailer = "\ncrc32 ";
constexpr size_t kTrailerSize = 7 + 8 + 1;

// The file as it is written: every byte goes into the checksum of the trailer.
class CheckedFile {
 public:
  explicit CheckedFile(AtomicFile& file) : file_(file) {}
  void Write(const void* data, size_t size) {
    file_.Write(data, size);
    for (const auto* bytes = static_cast<const Bytef*>(data); size;) {
      const size_t chunk = std::min<size_t>(size, 1u << 30);
      crc_ = crc32(crc_, bytes, uInt(chunk));
      bytes += chunk;
      size -= chunk;
    }
  }
  // The trailer, outside the checksum it holds.
  void Seal() {
    char trailer[kTrailerSize + 1];
    std::snprintf(trailer, sizeof trailer, "%s%08lx\n", kTrailer, crc_);
    file_.Write(trailer, kTrailerSize);
  }

 private:
  AtomicFile& file_;
  uLong crc_ = crc32(0, nullptr, 0);
};

// The payload, deflated on its way to the file.
class Deflater {
 public:
  explicit Deflater(CheckedFile& file) : file_(file) {
    if (deflateInit(&z_, Z_BEST_SPEED) != Z_OK) throw SegworkError("cannot start compression");
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  template <class T>
  void Value(T value) {
    Bytes(&value, sizeof value);
  }
  template <class T>
  void Column(const std::vector<T>& values) {
    Bytes(values.data(), values.size() * sizeof(T));
  }
  void Text(const std::string& text) {
    Value(uint32_t(text.size()));
    Bytes(text.data(), text.size());
  }
  // Small values gather first; large columns go straight through.
  void Bytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (staged_.size() + size > kStage) {
      Drain(staged_.data(), staged_.size(), Z_NO_FLUSH);
      staged_.clear();
    }
    if (size > kStage) {
      Drain(bytes, size, Z_NO_FLUSH);
      return;
    }
    staged_.insert(staged_.end(), bytes, bytes + size);
  }
  void Finish() { Drain(staged_.data(), staged_.size(), Z_FINISH); }

 private:
  static constexpr size_t kStage = size_t(1) << 16;

  void Drain(const unsigned char* data, size_t size, int flush) {
    unsigned char out[1 << 16];
    do {
      const size_t chunk = std::min<size_t>(size, 1u << 30);
      z_.next_in = const_cast<unsigned char*>(data);
      z_.avail_in = uInt(chunk);
      data += chunk;
      size -= chunk;
      const int mode = size ? Z_NO_FLUSH : flush;
      int status = Z_OK;
      do {
        z_.next_out = out;
        z_.avail_out = sizeof out;
        status = deflate(&z_, mode);
        file_.Write(out, sizeof out - z_.avail_out);
      } while (z_.avail_out == 0 || (mode == Z_FINISH && status != Z_STREAM_END));
    } while (size);
  }

  CheckedFile& file_;
  z_stream z_{};
  std::vector<unsigned char> staged_;
};

// The payload read back. Nothing is allocated for more bytes than the compressed rest of the file
// could hold, so a forged count cannot exhaust memory.
class Inflater {
 public:
  // The payload is bytes [offset, end).
  Inflater(const std::string& bytes, size_t offset, size_t end, const std::string& name)
      : name_(name), budget_(double(end - offset) * 1100.0 + 4096) {
    if (inflateInit(&z_) != Z_OK) throw SegworkError(name + ": cannot start decompression");
    z_.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data() + offset));
    z_.avail_in = uInt(std::min<size_t>(end - offset, UINT32_MAX));
    rest_ = end - offset - z_.avail_in;
  }
  ~Inflater() { inflateEnd(&z_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  [[noreturn]] void Fail(const std::string& what) const { throw SegworkError(name_ + ": " + what); }

  template <class T>
  T Value() {
    T value{};
    Bytes(&value, sizeof value);
    return value;
  }
  template <class T>
  void Column(std::vector<T>& values, uint64_t count) {
    Reserve(double(count) * sizeof(T));
    values.resize(size_t(count));
    Bytes(values.data(), size_t(count) * sizeof(T));
  }
  std::string Text() {
    const uint32_t size = Value<uint32_t>();
    Reserve(size);
    std::string text(size, '\0');
    Bytes(text.data(), text.size());
    return text;
  }
  // A count read from the payload, of items at least `itemBytes` long each.
  uint64_t Count(double itemBytes) {
    const uint64_t count = Value<uint64_t>();
    Reserve(double(count) * itemBytes);
    return count;
  }
  void Reserve(double bytes) {
    if (bytes > budget_) Fail("truncated or corrupt: it claims more data than it holds");
  }
  void Bytes(void* data, size_t size) {
    z_.next_out = static_cast<unsigned char*>(data);
    while (size) {
      const size_t chunk = std::min<size_t>(size, 1u << 30);
      z_.avail_out = uInt(chunk);
      while (z_.avail_out) {
        if (ended_) Fail("truncated: the payload ends early");
        if (z_.avail_in == 0 && rest_) Refill();
        const int status = inflate(&z_, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
          ended_ = true;
        } else if (status != Z_OK) {
          Fail(status == Z_BUF_ERROR ? "truncated: the payload ends early"
                                     : "corrupt: the payload does not decompress");
        }
      }
      size -= chunk;
      budget_ -= double(chunk);
    }
  }
  // The payload must end here, and the file with it.
  void Finish() {
    if (!ended_) {
      unsigned char extra = 0;
      z_.next_out = &extra;
      z_.avail_out = 1;
      if (z_.avail_in == 0 && rest_) Refill();
      const int status = inflate(&z_, Z_NO_FLUSH);
      if (status == Z_OK && z_.avail_out == 0) Fail("corrupt: data after the last field");
      if (status != Z_STREAM_END) Fail("truncated: the payload ends early");
    }
    if (z_.avail_in || rest_) Fail("corrupt: bytes after the payload");
  }

 private:
  void Refill() {
    const size_t chunk = std::min<size_t>(rest_, UINT32_MAX);
    z_.avail_in = uInt(chunk);
    rest_ -= chunk;
  }

  const std::string& name_;
  z_stream z_{};
  size_t rest_ = 0;
  double budget_;
  bool ended_ = false;
};

// ----- writing -----

void WriteCells(Deflater& out, const Simulation& run) {
  const CellSpace& c = run.Cells;
  std::vector<int8_t> codes(run.StreetTypes.begin(), run.StreetTypes.end());
  out.Column(codes);
  codes.assign(c.Street.begin(), c.Street.end());
  out.Column(codes);
  out.Column(c.Weight);
  out.Column(c.SimilarShare);
  out.Column(c.SimilarWeight);
  out.Column(c.OtherWeight);
  out.Column(c.DrawColor);
}

void WriteAgents(Deflater& out, const std::vector<TAgent>& agents) {
  for (const TAgent& a : agents) {
    out.Value(a.CellX);
    out.Value(a.CellY);
    out.Value(a.Group);
    out.Value(uint8_t(a.Satisfied));
    out.Value(a.HeadingX);
    out.Value(a.HeadingY);
  }
}

void WriteBarriers(Deflater& out, const BarrierWeights& b, size_t cells) {
  std::vector<uint64_t> owners;
  std::vector<uint32_t> counts;
  if (!b.empty()) {
    for (size_t i = 0; i < cells; ++i) {
      if (b.start[i + 1] == b.start[i]) continue;
      owners.push_back(i);
      counts.push_back(uint32_t(b.start[i + 1] - b.start[i]));
    }
  }
  out.Value(uint64_t(owners.size()));
  out.Column(owners);
  out.Column(counts);
  out.Value(uint64_t(b.position.size()));
  out.Column(b.position);
  out.Column(b.value);
}

void WriteOptional(Deflater& out, const std::optional<double>& value) {
  out.Value(uint8_t(value.has_value()));
  out.Value(value.value_or(0));
}

void WriteMeasures(Deflater& out, const std::vector<StepMeasures>& steps) {
  out.Value(uint64_t(steps.size()));
  for (const StepMeasures& m : steps) {
    out.Value(m.Step);
    out.Value(m.AgentCount);
    out.Value(m.Movers);
    out.Value(m.MoversPercent);
    out.Value(m.Density);
    out.Value(m.StreetCells);
    out.Value(uint64_t(m.Segregation.size()));
    out.Column(m.Segregation);
    out.Value(uint64_t(m.Satisfaction.size()));
    for (const std::optional<double>& s : m.Satisfaction) WriteOptional(out, s);
    out.Value(uint8_t(m.Clusters.has_value()));
    out.Value(m.Clusters.value_or(0));
  }
}

void WriteLines(Deflater& out, const std::vector<LineSeries>& table) {
  out.Value(uint64_t(table.size()));
  for (const LineSeries& s : table) {
    out.Value(int32_t(s.chart));
    out.Value(uint8_t(s.axis == VerticalAxis::Left));
    out.Value(uint8_t(s.defaultColour));
    out.Value(s.colour);
    out.Value(s.Thinnings);
    out.Value(uint64_t(s.points.size()));
    for (const ChartPoint& p : s.points) {
      out.Value(p.x);
      out.Value(p.y);
    }
  }
}

void WriteBars(Deflater& out, const BarSeries& series) {
  out.Value(uint64_t(series.bars.size()));
  for (const Bar& bar : series.bars) {
    out.Value(bar.value);
    out.Value(bar.colour);
  }
}

void WriteAnalysis(Deflater& out, const Simulation& model, const AnalysisWindow& a) {
  for (const auto* table : {&a.SatisfactionSeries, &a.SegregationSeries,
                            &a.DensitySegregationSeries, &a.ChangeSeries}) {
    WriteLines(out, *table);
  }
  WriteBars(out, a.ClusterSizeSeries);
  WriteBars(out, a.Series3);
  for (size_t i = 1; i < a.ChartTitle.size(); ++i) out.Text(a.ChartTitle[i]);
  out.Value(uint64_t(a.DissimiGrid.size()));
  for (const std::vector<std::string>& column : a.DissimiGrid) {
    out.Value(uint64_t(column.size()));
    for (const std::string& text : column) out.Text(text);
  }
  out.Value(a.DecimalSeparator);
  out.Value(uint64_t(model.ClusterSizes.size()));
  for (const std::vector<int32_t>& sizes : model.ClusterSizes) {
    out.Value(uint64_t(sizes.size()));
    out.Column(sizes);
  }
}

Json HeaderOf(const Simulation& m) {
  Json h;
  h["format"] = kSavedRunFormat;
  h["version"] = kSavedRunVersion;
  h["scenario"] = Json::parse(ScenarioText(SettingsOf(m)));
  Json& r = h["run"];
  r["step"] = m.StepCount;
  r["generator"] = m.Rng.State();
  r["seed"] = m.Seed;
  r["columns"] = m.ColCount;
  r["rows"] = m.RowCount;
  r["cell_size"] = m.CellSize;
  r["radius"] = m.NeighbourRadius;
  r["move_distance"] = m.MoveDistance;
  r["groups"] = m.GroupCount;
  r["threshold"] = m.Threshold;
  r["tile_size"] = m.TileSize;
  r["stop_step"] = m.StopStep;
  r["draw_while_running"] = m.DrawWhileRunning;
  r["streets_changed"] = m.StreetsChanged;
  r["street_cells"] = m.StreetCells;
  r["movers"] = m.MoversInStep;
  r["agents_requested"] = m.AgentsRequested;
  r["agents"] = m.Agents.size();
  r["group_sizes"] = m.GroupSizes;
  r["last_cluster_count"] =
      m.Measures.LastClusterCount ? Json(*m.Measures.LastClusterCount) : Json(nullptr);
  r["street_lines"] = Json::array();
  for (const StreetLine& l : m.StreetLines) {
    r["street_lines"].push_back({l.StartX, l.StartY, l.EndX, l.EndY, l.Street});
  }
  return h;
}

}  // namespace

void SaveRun(const Simulation& model, const AnalysisWindow& analysis, const std::string& path) {
  if (model.Cells.size() == 0 || model.StreetTypes.size() != model.Cells.size()) {
    throw SegworkError(path + ": there is no run to save: press \"new Setup\" first");
  }
  AtomicFile target(path);
  CheckedFile file(target);
  const std::string header = kMagic + HeaderOf(model).dump() + "\n";
  file.Write(header.data(), header.size());
  Deflater out(file);
  WriteCells(out, model);
  WriteAgents(out, model.Agents);
  WriteBarriers(out, model.Engine->Barriers(), model.Cells.size());
  WriteMeasures(out, model.Measures.Steps());
  WriteAnalysis(out, model, analysis);
  out.Finish();
  file.Seal();
  target.Commit();
}

namespace {

// ----- reading -----

class HeaderReader {
 public:
  HeaderReader(const Json& object, const std::string& name) : object_(object), name_(name) {}

  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw SegworkError(name_ + ": run." + key + ": " + what);
  }
  const Json& At(const std::string& key) const {
    if (!object_.contains(key)) Fail(key, "missing");
    return object_[key];
  }
  int64_t Int(const std::string& key, int64_t low, int64_t high) const {
    const Json& v = At(key);
    if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(high)) ||
        v.get<int64_t>() < low || v.get<int64_t>() > high) {
      Fail(key, "expected an integer " + std::to_string(low) + ".." + std::to_string(high));
    }
    return v.get<int64_t>();
  }
  bool Flag(const std::string& key) const {
    if (!At(key).is_boolean()) Fail(key, "expected true or false");
    return At(key).get<bool>();
  }

 private:
  const Json& object_;
  const std::string& name_;
};

void ReadRunFields(const HeaderReader& h, SavedRun& s) {
  RunData& d = s.data;
  d.StepCount = int32_t(h.Int("step", 0, INT32_MAX - 1));
  s.generator = uint32_t(h.Int("generator", 0, UINT32_MAX));
  d.Seed = uint32_t(h.Int("seed", 0, UINT32_MAX));
  d.CellSize = int32_t(h.Int("cell_size", 1, INT32_MAX));
  d.ColCount = int32_t(h.Int("columns", 1, INT32_MAX));
  d.RowCount = int32_t(h.Int("rows", 1, INT32_MAX));
  d.NeighbourRadius = int32_t(h.Int("radius", 0, INT32_MAX));
  d.MoveDistance = int32_t(h.Int("move_distance", INT32_MIN, INT32_MAX));
  d.GroupCount = int32_t(h.Int("groups", 1, INT32_MAX));
  d.Threshold = int32_t(h.Int("threshold", 0, 100));
  d.TileSize = int32_t(h.Int("tile_size", 1, INT32_MAX));
  d.StopStep = int32_t(h.Int("stop_step", INT32_MIN, INT32_MAX));
  d.DrawWhileRunning = h.Flag("draw_while_running");
  d.StreetsChanged = h.Flag("streets_changed");
  d.StreetCells = int32_t(h.Int("street_cells", 0, INT32_MAX));
  d.AgentsRequested = h.Int("agents_requested", 0, INT64_MAX);
  d.AgentRadius = d.CellSize / 2 - 1;
  d.HalfCell = (d.CellSize + 1) / 2;
  const GridPos panel = SavedPanel(s);
  if (RoundHalfEven(double(panel.x) / d.CellSize) != d.ColCount ||
      RoundHalfEven(double(panel.y) / d.CellSize) != d.RowCount) {
    h.Fail("columns", "a " + std::to_string(d.ColCount) + " x " + std::to_string(d.RowCount) +
                          " grid does not fit cell size " + std::to_string(d.CellSize) +
                          " on the panel");
  }
  if (!h.At("last_cluster_count").is_null()) {
    s.lastClusterCount = h.Int("last_cluster_count", 0, INT64_MAX);
  }
}

void ReadGroupsAndLines(const HeaderReader& h, SavedRun& s) {
  RunData& d = s.data;
  const Json& sizes = h.At("group_sizes");
  if (!sizes.is_array() || sizes.size() != size_t(d.GroupCount)) {
    h.Fail("group_sizes", "expected " + std::to_string(d.GroupCount) + " counts");
  }
  for (const Json& n : sizes) {
    if (!n.is_number_integer() || n.get<int64_t>() < 0 || n.get<int64_t>() > INT32_MAX) {
      h.Fail("group_sizes", "expected counts 0.." + std::to_string(INT32_MAX));
    }
    d.GroupSizes.push_back(n.get<int32_t>());
  }
  const Json& lines = h.At("street_lines");
  if (!lines.is_array()) h.Fail("street_lines", "expected a list");
  for (const Json& l : lines) {
    const bool five =
        l.is_array() && l.size() == 5 && std::all_of(l.begin(), l.end(), [](const Json& v) {
          return v.is_number_integer() && v.get<int64_t>() >= -3 && v.get<int64_t>() <= INT32_MAX;
        });
    if (!five) h.Fail("street_lines", "expected lists of five integers");
    const StreetLine line{l[0].get<int32_t>(), l[1].get<int32_t>(), l[2].get<int32_t>(),
                          l[3].get<int32_t>(), l[4].get<int32_t>()};
    if (std::min({line.StartX, line.StartY, line.EndX, line.EndY}) < 0 ||
        std::max(line.StartX, line.EndX) >= d.ColCount ||
        std::max(line.StartY, line.EndY) >= d.RowCount || line.Street < -3 || line.Street > 3) {
      h.Fail("street_lines", "a line lies outside the grid or has no street type");
    }
    s.lines.push_back(line);
  }
}

// A version 2 file ends in its checksum: when the bytes end in a trailer, it must match them,
// and `end` is where the payload ends. False when there is no trailer (a version 1 file, or one
// cut short).
bool CheckSealed(const std::string& bytes, const std::string& name, size_t& end) {
  end = bytes.size();
  const size_t prefix = std::strlen(kTrailer);
  if (bytes.size() < std::strlen(kMagic) + kTrailerSize) return false;
  const size_t at = bytes.size() - kTrailerSize;
  if (bytes.compare(at, prefix, kTrailer) != 0 || bytes.back() != '\n') return false;
  uLong stored = 0;
  for (size_t i = at + prefix; i < bytes.size() - 1; ++i) {
    const char c = bytes[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    stored = stored * 16 + uLong(digit);
  }
  uLong crc = crc32(0, nullptr, 0);
  for (size_t done = 0; done < at;) {
    const size_t chunk = std::min<size_t>(at - done, 1u << 30);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), uInt(chunk));
    done += chunk;
  }
  if (crc != stored) {
    throw SegworkError(name +
                       ": damaged: its checksum does not match its bytes (changed since it was "
                       "saved); it is not opened");
  }
  end = at;
  return true;
}

// The text before the payload: the magic line, then the header on one line.
size_t ReadHeader(const std::string& bytes, size_t payloadEnd, bool sealed, SavedRun& s,
                  int64_t& agents) {
  const std::string& name = s.name;
  const size_t magic = std::strlen(kMagic);
  const size_t end = bytes.find('\n', magic);
  if (end == std::string::npos || end >= payloadEnd) {
    throw SegworkError(name + ": truncated: the header ends early");
  }
  Json root;
  try {
    root = ParseJsonText(std::string_view(bytes).substr(magic, end - magic));
  } catch (const JsonRefusal& e) {
    if (e.Syntax()) throw SegworkError(name + ": corrupt: the header is not readable");
    throw SegworkError(name + ": corrupt: the header: " + (e.Key().empty() ? "" : e.Key() + ": ") +
                       e.what());
  }
  if (!root.is_object() || root.value("format", Json()) != kSavedRunFormat) {
    throw SegworkError(name + ": not a saved run");
  }
  const Json v = root.value("version", Json());
  if (v != 1 && v != kSavedRunVersion) {
    throw SegworkError(name + ": version " + (v.is_number() ? v.dump() : std::string("?")) +
                       " is not a version this program reads (1 to " +
                       std::to_string(kSavedRunVersion) + ")");
  }
  if (v != 1 && !sealed) {
    throw SegworkError(name +
                       ": truncated or damaged: it does not end in its checksum; it is not opened");
  }
  if (!root.contains("scenario") || !root.contains("run") || !root["run"].is_object()) {
    throw SegworkError(name + ": corrupt: the header lacks its scenario or run");
  }
  s.scenario = ParseScenario(root["scenario"].dump(), name);
  const HeaderReader h(root["run"], name);
  ReadRunFields(h, s);
  ReadGroupsAndLines(h, s);
  agents = h.Int("agents", 0, int64_t(s.data.ColCount) * s.data.RowCount);
  return end + 1;
}

void ReadStreetCodes(Inflater& in, std::vector<int32_t>& into, size_t n, const char* what) {
  std::vector<int8_t> codes;
  in.Column(codes, n);
  for (int8_t code : codes) {
    if (code < -3 || code > 3) in.Fail(std::string("corrupt: a street code of the ") + what);
  }
  into.assign(codes.begin(), codes.end());
}

void ReadCells(Inflater& in, RunData& d) {
  const size_t n = size_t(d.ColCount) * size_t(d.RowCount);
  in.Reserve(double(n) * 38);
  d.Cells.Create(d.ColCount, d.RowCount, d.CellSize, d.HalfCell);
  ReadStreetCodes(in, d.StreetTypes, n, "street grid");
  ReadStreetCodes(in, d.Cells.Street, n, "cells");
  for (std::vector<double>* column :
       {&d.Cells.Weight, &d.Cells.SimilarShare, &d.Cells.SimilarWeight, &d.Cells.OtherWeight}) {
    in.Bytes(column->data(), n * sizeof(double));
  }
  in.Bytes(d.Cells.DrawColor.data(), n * sizeof(TColor));
}

void ReadAgents(Inflater& in, RunData& d, int64_t count) {
  in.Reserve(double(count) * 21);
  d.GroupColours = MakeGroupPalette(d.GroupCount);
  d.Agents.resize(size_t(count));
  std::vector<int32_t> members(size_t(d.GroupCount), 0);
  for (TAgent& a : d.Agents) {
    a.CellX = in.Value<int32_t>();
    a.CellY = in.Value<int32_t>();
    a.Group = in.Value<int32_t>();
    const uint8_t satisfied = in.Value<uint8_t>();
    a.HeadingX = in.Value<int32_t>();
    a.HeadingY = in.Value<int32_t>();
    if (a.CellX < 0 || a.CellX >= d.ColCount || a.CellY < 0 || a.CellY >= d.RowCount ||
        a.Group < 1 || a.Group > d.GroupCount || satisfied > 1) {
      in.Fail("corrupt: an agent outside the grid or its groups");
    }
    const size_t cell = d.Cells.Index(a.CellX, a.CellY);
    if (d.Cells.Occupied[cell]) in.Fail("corrupt: two agents on one cell");
    d.Cells.Occupied[cell] = 1;
    d.Cells.State[cell] = a.Group;
    ++members[size_t(a.Group - 1)];
    a.Satisfied = satisfied;
    a.Color = d.GroupColours[size_t(a.Group - 1)];
    a.PosX = a.CellX * d.CellSize + d.HalfCell;
    a.PosY = a.CellY * d.CellSize + d.HalfCell;
    a.Radius = d.AgentRadius;
  }
  if (members != d.GroupSizes) in.Fail("corrupt: the group sizes do not match the agents");
}

void ReadBarriers(Inflater& in, const RunData& d, BarrierWeights& b) {
  const size_t n = d.Cells.size();
  std::vector<uint64_t> owners;
  std::vector<uint32_t> counts;
  const uint64_t cells = in.Count(12);
  in.Column(owners, cells);
  in.Column(counts, cells);
  const uint64_t entries = in.Count(12);
  in.Column(b.position, entries);
  in.Column(b.value, entries);
  if (cells == 0) {
    if (entries) in.Fail("corrupt: barrier weights without their cells");
    return;
  }
  b.start.assign(n + 1, 0);
  const int64_t r = d.NeighbourRadius;
  uint64_t next = 0;
  for (size_t k = 0; k < owners.size(); ++k) {
    const uint64_t i = owners[k];
    if (i >= n || (k && i <= owners[k - 1]) || counts[k] == 0 || counts[k] > entries - next) {
      in.Fail("corrupt: the barrier weights do not fit the grid");
    }
    const int64_t x = d.Cells.XOf(i), y = d.Cells.YOf(i);
    const int64_t width =
        std::min<int64_t>(d.ColCount - 1, x + r) - std::max<int64_t>(0, x - r) + 1;
    const int64_t height =
        std::min<int64_t>(d.RowCount - 1, y + r) - std::max<int64_t>(0, y - r) + 1;
    for (uint64_t e = next; e < next + counts[k]; ++e) {
      if (double(b.position[e]) >= double(width) * double(height) ||
          (e > next && b.position[e] <= b.position[e - 1])) {
        in.Fail("corrupt: a barrier weight outside its neighbourhood");
      }
    }
    next += counts[k];
    b.start[i + 1] = counts[k];
  }
  if (next != entries) in.Fail("corrupt: barrier weights without their cells");
  for (size_t i = 0; i < n; ++i) b.start[i + 1] += b.start[i];
}

std::optional<double> ReadOptional(Inflater& in) {
  const uint8_t present = in.Value<uint8_t>();
  const double value = in.Value<double>();
  if (present > 1) in.Fail("corrupt: a measure");
  return present ? std::optional<double>(value) : std::nullopt;
}

void ReadMeasures(Inflater& in, SavedRun& s) {
  const size_t groups = size_t(s.data.GroupCount);
  s.measures.resize(size_t(in.Count(61)));
  int32_t previous = 0;
  for (StepMeasures& m : s.measures) {
    m.Step = in.Value<int32_t>();
    m.AgentCount = in.Value<int64_t>();
    m.Movers = in.Value<int32_t>();
    m.MoversPercent = in.Value<double>();
    m.Density = in.Value<double>();
    m.StreetCells = in.Value<int32_t>();
    if (in.Count(8) != groups) in.Fail("corrupt: a measure of another number of groups");
    in.Column(m.Segregation, groups);
    if (in.Count(9) != groups) in.Fail("corrupt: a measure of another number of groups");
    m.Satisfaction.resize(groups);
    for (std::optional<double>& value : m.Satisfaction) value = ReadOptional(in);
    const uint8_t searched = in.Value<uint8_t>();
    const int64_t clusters = in.Value<int64_t>();
    if (searched > 1 || m.Step <= previous || m.Step > s.data.StepCount) {
      in.Fail("corrupt: the measures do not fit the run's steps");
    }
    if (searched) m.Clusters = clusters;
    previous = m.Step;
  }
}

void ReadLines(Inflater& in, std::vector<LineSeries>& table, size_t expected) {
  table.resize(size_t(in.Count(30)));
  if (!table.empty() && table.size() != expected) in.Fail("corrupt: a chart's series");
  for (LineSeries& s : table) {
    s.chart = in.Value<int32_t>();
    const uint8_t left = in.Value<uint8_t>();
    const uint8_t defaultColour = in.Value<uint8_t>();
    s.colour = in.Value<TColor>();
    s.Thinnings = in.Value<uint64_t>();
    if (s.chart < 1 || s.chart > 6 || left > 1 || defaultColour > 1) {
      in.Fail("corrupt: a chart's series");
    }
    s.axis = left ? VerticalAxis::Left : VerticalAxis::Right;
    s.defaultColour = defaultColour;
    in.Column(s.points, in.Count(16));
  }
}

void ReadBars(Inflater& in, BarSeries& series) {
  series.bars.resize(size_t(in.Count(12)));
  for (Bar& bar : series.bars) {
    bar.value = in.Value<double>();
    bar.colour = in.Value<TColor>();
  }
}

void ReadAnalysis(Inflater& in, SavedRun& s) {
  const size_t groups = size_t(s.data.GroupCount);
  AnalysisWindow& a = s.analysis;
  ReadLines(in, a.SatisfactionSeries, groups);
  ReadLines(in, a.SegregationSeries, groups);
  ReadLines(in, a.DensitySegregationSeries, groups);
  ReadLines(in, a.ChangeSeries, 4);
  ReadBars(in, a.ClusterSizeSeries);
  ReadBars(in, a.Series3);
  for (size_t i = 1; i < a.ChartTitle.size(); ++i) a.ChartTitle[i] = in.Text();
  a.DissimiGrid.resize(size_t(in.Count(8)));
  if (!a.DissimiGrid.empty() && a.DissimiGrid.size() != groups + 1) {
    in.Fail("corrupt: the dissimilarity table");
  }
  for (std::vector<std::string>& column : a.DissimiGrid) {
    column.resize(size_t(in.Count(4)));
    if (column.size() != groups + 2) in.Fail("corrupt: the dissimilarity table");
    for (std::string& text : column) text = in.Text();
  }
  a.DecimalSeparator = in.Value<char>();
  if (a.DecimalSeparator != '.' && a.DecimalSeparator != ',') in.Fail("corrupt: the analysis");
  s.clusterSizes.resize(size_t(in.Count(8)));
  if (!s.clusterSizes.empty() && s.clusterSizes.size() != groups) {
    in.Fail("corrupt: the cluster sizes");
  }
  for (std::vector<int32_t>& sizes : s.clusterSizes) in.Column(sizes, in.Count(4));
}

}  // namespace

SavedRunPtr ParseSavedRun(const std::string& bytes, const std::string& name, uint64_t memoryLimit,
                          EngineKind engine) {
  SavedRunPtr s(new SavedRun);
  s->name = name;
  int64_t agents = 0;
  if (bytes.compare(0, std::strlen(kMagic), kMagic) != 0) {
    throw SegworkError(name + ": not a saved run");
  }
  size_t payloadEnd = bytes.size();
  const bool sealed = CheckSealed(bytes, name, payloadEnd);
  const size_t offset = ReadHeader(bytes, payloadEnd, sealed, *s, agents);
  RunData& d = s->data;
  const uint64_t needed =
      EstimateSetupBytes(engine, d.ColCount, d.RowCount, d.NeighbourRadius, agents, d.GroupCount);
  if (needed > memoryLimit) {
    throw SegworkError(name + ": the run would need about " + std::to_string(needed >> 20) +
                       " MB of memory, more than the " + std::to_string(memoryLimit >> 20) +
                       " MB allowed");
  }
  Inflater in(bytes, offset, payloadEnd, s->name);
  ReadCells(in, d);
  ReadAgents(in, d, agents);
  ReadBarriers(in, d, s->barriers);
  ReadMeasures(in, *s);
  ReadAnalysis(in, *s);
  in.Finish();
  return s;
}

SavedRunPtr LoadSavedRun(const std::string& path, uint64_t memoryLimit, EngineKind engine) {
  // A file larger than the memory a run may take holds no run this program would set up.
  return ParseSavedRun(ReadWholeFile(path, memoryLimit, "a saved run within the memory limit"),
                       path, memoryLimit, engine);
}

void InstallSavedRun(Simulation& m, SavedRun& s) {
  // Everything that allocates happens before the old run goes.
  std::unique_ptr<NeighbourhoodEngine> engine = MakeEngine(m.EngineChoice);
  engine->InstallWeights(s.data.Cells, s.data.NeighbourRadius, std::move(s.barriers));
  s.data.Engine = std::move(engine);
  auto rewritten = std::move(m.Controls.onFieldRewritten);
  m.Controls = s.scenario.controls;
  m.Controls.onFieldRewritten = std::move(rewritten);
  m.SeedField = std::to_string(s.data.Seed);
  m.PanelWidth = s.scenario.panelWidth;
  m.PanelHeight = s.scenario.panelHeight;
  static_cast<RunData&>(m) = std::move(s.data);
  m.Rng.Seed(s.generator);
  m.StreetLines = std::move(s.lines);
  m.Measures.Restore(std::move(s.measures));
  m.Measures.LastClusterCount = s.lastClusterCount;
  m.ClusterSizes = std::move(s.clusterSizes);
  m.CreateCellImage();
  m.RepaintAll();
}

AnalysisWindow TakeAnalysis(SavedRun& run) {
  return std::move(run.analysis);
}

AnalysisWindow OpenRun(Simulation& model, const std::string& path,
                       const std::function<void()>& beforeInstall) {
  SavedRunPtr run = LoadSavedRun(path, model.MemoryLimitBytes, model.EngineChoice);
  const GridPos panel = SavedPanel(*run);
  if (panel.x != model.PanelWidth || panel.y != model.PanelHeight) {
    throw SegworkError(path + ": panel: " + std::to_string(panel.x) + " x " +
                       std::to_string(panel.y) + " pixels, the window's is " +
                       std::to_string(model.PanelWidth) + " x " +
                       std::to_string(model.PanelHeight));
  }
  if (beforeInstall) beforeInstall();
  InstallSavedRun(model, *run);
  return TakeAnalysis(*run);
}

}  // namespace segwork

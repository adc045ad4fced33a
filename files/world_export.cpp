#include "files/world_export.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/errors.h"
#include "core/parameters.h"
#include "files/atomic_file.h"
#include "sim/simulation.h"

#ifdef SEGWORK_HAVE_NETCDF
#include <netcdf.h>
#endif

namespace segwork {

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

template <typename T>
void Append(std::string& out, T value) {
  std::array<char, 32> digits;
#if !defined(__cpp_lib_to_chars)
  // Without to_chars for reals (libc++ 14): the fewest digits that read back as the same value.
  if constexpr (std::is_floating_point_v<T>) {
    for (int precision = 1;; ++precision) {
      const int n = std::snprintf(digits.data(), digits.size(), "%.*g", precision, double(value));
      if (precision >= 17 || std::strtod(digits.data(), nullptr) == double(value)) {
        out.append(digits.data(), size_t(n));
        return;
      }
    }
  } else
#endif
  {
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    out.append(digits.data(), result.ptr);
  }
}

// Rows are gathered into blocks of about this size before they are written.
constexpr size_t kBlock = size_t(1) << 20;

class CsvCells : public CellExport {
 public:
  explicit CsvCells(const std::string& path) : file_(path), block_(kBlock + kRowMost) {
    const char header[] = "step,x,y,group,street\n";
    file_.Write(header, sizeof header - 1);
  }
  void Write(const Simulation& sim) override {
    const CellSpace& cells = sim.Cells;
    // Rows are copied together from the texts of their numbers: formatting, not writing, would
    // otherwise take most of the time.
    std::string step;
    Append(step, sim.StepCount);
    step += ',';
    std::vector<std::string> columns(size_t(cells.ColCount));
    for (int32_t x = 0; x < cells.ColCount; ++x) {
      Append(columns[size_t(x)], x);
      columns[size_t(x)] += ',';
    }
    char* const begin = block_.data();
    char* out = begin;
    for (int32_t y = 0; y < cells.RowCount; ++y) {
      std::string row;
      Append(row, y);
      row += ',';
      for (int32_t x = 0; x < cells.ColCount; ++x) {
        const size_t i = cells.Index(x, y);
        for (const std::string* text : {&step, &columns[size_t(x)], &row}) {
          std::memcpy(out, text->data(), text->size());
          out += text->size();
        }
        out = std::to_chars(out, out + 16, cells.State[i]).ptr;
        *out++ = ',';
        out = std::to_chars(out, out + 16, cells.Street[i]).ptr;
        *out++ = '\n';
        if (size_t(out - begin) >= kBlock) {
          file_.Write(begin, size_t(out - begin));
          out = begin;
        }
      }
    }
    file_.Write(begin, size_t(out - begin));
  }
  void Commit() override { file_.Commit(); }

 private:
  // Four numbers of at most 11 characters each and their separators.
  static constexpr size_t kRowMost = 64;
  AtomicFile file_;
  std::vector<char> block_;
};

#ifdef SEGWORK_HAVE_NETCDF

// One step is a slab of chunks of about 4 MiB, so the library's cache, and the memory, stay the
// same however many steps are written.
class NetcdfCells : public CellExport {
 public:
  NetcdfCells(const std::string& path, const Simulation& sim) : path_(path), file_(path, ".nc") {
    ::close(file_.ReleaseDescriptor());
    rows_ = size_t(sim.Cells.RowCount);
    cols_ = size_t(sim.Cells.ColCount);
    Check(nc_create(file_.TempPath().c_str(), NC_CLOBBER | NC_NETCDF4, &id_));
    int dims[3];
    Check(nc_def_dim(id_, "step", NC_UNLIMITED, &dims[0]));
    Check(nc_def_dim(id_, "y", rows_, &dims[1]));
    Check(nc_def_dim(id_, "x", cols_, &dims[2]));
    Check(nc_def_var(id_, "step", NC_INT, 1, &dims[0], &step_));
    Check(nc_def_var(id_, "y", NC_INT, 1, &dims[1], &y_));
    Check(nc_def_var(id_, "x", NC_INT, 1, &dims[2], &x_));
    Check(nc_def_var(id_, "group", NC_INT, 3, dims, &group_));
    Check(nc_def_var(id_, "street", NC_BYTE, 3, dims, &street_));
    const size_t chunkRows = std::clamp<size_t>((size_t(1) << 20) / std::max<size_t>(cols_, 1), 1,
                                                std::max<size_t>(rows_, 1));
    const size_t chunk[3] = {1, chunkRows, std::max<size_t>(cols_, 1)};
    Check(nc_def_var_chunking(id_, group_, NC_CHUNKED, chunk));
    Check(nc_def_var_chunking(id_, street_, NC_CHUNKED, chunk));
    Text(step_, "long_name", "time step");
    Text(y_, "long_name", "row of the grid, from the top");
    Text(x_, "long_name", "column of the grid, from the left");
    Text(group_, "long_name", "group of the agent on the cell, 0 empty");
    Text(street_, "long_name", "street type of the cell, 0 none");
    Text(NC_GLOBAL, "source", "segwork");
    const unsigned seed = sim.Seed;
    Check(nc_put_att_uint(id_, NC_GLOBAL, "seed", NC_UINT, 1, &seed));
    for (const Parameter& p : Parameters()) Text(NC_GLOBAL, p.name, p.get(sim.Controls));
    Check(nc_enddef(id_));
    std::vector<int> index(std::max(rows_, cols_));
    for (size_t i = 0; i < index.size(); ++i) index[i] = int(i);
    Check(nc_put_var_int(id_, y_, index.data()));
    Check(nc_put_var_int(id_, x_, index.data()));
  }
  ~NetcdfCells() override {
    if (id_ >= 0) nc_close(id_);
  }
  void Write(const Simulation& sim) override {
    if (size_t(sim.Cells.RowCount) != rows_ || size_t(sim.Cells.ColCount) != cols_) {
      throw SegworkError(path_ + ": the world changed its size while it was written");
    }
    const size_t start[3] = {steps_, 0, 0}, count[3] = {1, rows_, cols_};
    const int step = sim.StepCount;
    Check(nc_put_vara_int(id_, step_, start, count, &step));
    Check(nc_put_vara_int(id_, group_, start, count, sim.Cells.State.data()));
    Check(nc_put_vara_int(id_, street_, start, count, sim.Cells.Street.data()));
    ++steps_;
  }
  void Commit() override {
    const int id = id_;
    id_ = -1;
    Check(nc_close(id));
    file_.Commit();
  }

 private:
  void Check(int status) const {
    if (status != NC_NOERR) {
      throw SegworkError(path_ + ": cannot be written: " + nc_strerror(status));
    }
  }
  void Text(int variable, const char* name, const std::string& value) {
    Check(nc_put_att_text(id_, variable, name, value.size(), value.c_str()));
  }

  std::string path_;
  FileReplacement file_;
  int id_ = -1;
  int step_ = -1, y_ = -1, x_ = -1, group_ = -1, street_ = -1;
  size_t rows_ = 0, cols_ = 0, steps_ = 0;
};

#endif

}  // namespace

bool NetcdfAvailable() {
#ifdef SEGWORK_HAVE_NETCDF
  return true;
#else
  return false;
#endif
}

void CheckCellExportTarget(const std::string& path, const std::string& name) {
  if (EndsWith(path, ".nc") && !NetcdfAvailable()) {
    throw SegworkError(name +
                       ": this build writes no NetCDF (it was made without libnetcdf); "
                       "give a name ending in .csv");
  }
  if (!EndsWith(path, ".csv") && !EndsWith(path, ".nc")) {
    throw SegworkError(name + ": give a name ending in .csv (CSV) or .nc (NetCDF)");
  }
  CheckWritableTarget(path, name);
}

void CheckAgentTableTarget(const std::string& path, const std::string& name) {
  if (!EndsWith(path, ".csv")) throw SegworkError(name + ": give a name ending in .csv");
  CheckWritableTarget(path, name);
}

std::unique_ptr<CellExport> OpenCellExport(const std::string& path,
                                           [[maybe_unused]] const Simulation& sim,
                                           const std::string& name) {
  CheckCellExportTarget(path, name);
#ifdef SEGWORK_HAVE_NETCDF
  if (EndsWith(path, ".nc")) return std::make_unique<NetcdfCells>(path, sim);
#endif
  return std::make_unique<CsvCells>(path);
}

struct AgentTableExport::File {
  explicit File(const std::string& path) : file(path) {}
  AtomicFile file;
  std::string block;
  void Flush() {
    file.Write(block.data(), block.size());
    block.clear();
  }
};

AgentTableExport::AgentTableExport(const std::string& path, const std::string& name) {
  CheckAgentTableTarget(path, name);
  file_ = std::make_unique<File>(path);
  file_->block = "step,agent,group,x,y,share,satisfied\n";
}

AgentTableExport::~AgentTableExport() = default;

void AgentTableExport::Write(const Simulation& sim) {
  std::string prefix;
  Append(prefix, sim.StepCount);
  prefix += ',';
  std::string& block = file_->block;
  for (size_t k = 0; k < sim.Agents.size(); ++k) {
    const TAgent& a = sim.Agents[k];
    block += prefix;
    Append(block, k);
    block += ',';
    Append(block, a.Group);
    block += ',';
    Append(block, a.CellX);
    block += ',';
    Append(block, a.CellY);
    block += ',';
    Append(block, sim.Cells.SimilarShare[sim.Cells.Index(a.CellX, a.CellY)]);
    block += a.Satisfied ? ",1\n" : ",0\n";
    if (block.size() >= kBlock) file_->Flush();
  }
  file_->Flush();
}

void AgentTableExport::Commit() {
  file_->Flush();
  file_->file.Commit();
}

void ExportCells(const std::string& path, const Simulation& sim) {
  const std::unique_ptr<CellExport> file = OpenCellExport(path, sim, path);
  file->Write(sim);
  file->Commit();
}

}  // namespace segwork

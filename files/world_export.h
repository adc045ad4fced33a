#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace segwork {

class Simulation;

// The world as data: every cell's group (0 empty) and street type (0 none) at the steps the
// caller chooses. Written under a temporary name; the target appears only at Commit().
class CellExport {
 public:
  virtual ~CellExport() = default;
  // The cells as they are now, at the run's current step.
  virtual void Write(const Simulation& sim) = 0;
  virtual void Commit() = 0;
};

// Whether this build writes NetCDF files.
bool NetcdfAvailable();

// A CSV file (step,x,y,group,street) for a name ending in .csv, a NetCDF file for one ending in
// .nc; any other name, and .nc in a build without NetCDF, is refused. Messages begin with `name`.
std::unique_ptr<CellExport> OpenCellExport(const std::string& path, const Simulation& sim,
                                           const std::string& name);
// What OpenCellExport refuses, refused before any work.
void CheckCellExportTarget(const std::string& path, const std::string& name);
void CheckAgentTableTarget(const std::string& path, const std::string& name);

// The agents at chosen steps, as CSV: step,agent,group,x,y,share,satisfied (1 or 0); agent is
// the position in the agent list, from 0. A name not ending in .csv is refused.
class AgentTableExport {
 public:
  AgentTableExport(const std::string& path, const std::string& name);
  ~AgentTableExport();
  void Write(const Simulation& sim);
  void Commit();

 private:
  struct File;
  std::unique_ptr<File> file_;
};

// The current world written at once, as the window's "Export cells..." does.
void ExportCells(const std::string& path, const Simulation& sim);

}  // namespace segwork

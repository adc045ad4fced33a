#include "cli/run_pictures.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <system_error>

#include "cli/output.h"
#include "cli/run_command.h"
#include "core/convert.h"
#include "core/errors.h"
#include "display/raster_canvas.h"
#include "display/rendering.h"
#include "files/atomic_file.h"
#include "files/movie.h"
#include "files/picture.h"

namespace segwork::cli {

namespace fs = std::filesystem;

void AddPictureOptions(CLI::App& run, PictureOptions& o) {
  run.add_option("--picture", o.picture, "write the world after the last step as a PNG")
      ->type_name("FILE.png");
  run.add_option("--frames", o.frames,
                 "write a PNG of the world every --every steps into DIR (made if missing), "
                 "step 0 included")
      ->type_name("DIR");
  run.add_option("--movie", o.movie,
                 "encode a frame every --every steps into an MP4 movie with ffmpeg")
      ->type_name("FILE.mp4");
  run.add_option("--every", o.every,
                 "steps between frames of --frames and --movie and between the steps --cells and "
                 "--agents-table write (default 1)")
      ->type_name("K");
}

std::string FrameName(int64_t step, int64_t lastStep) {
  const size_t digits = std::max<size_t>(6, std::to_string(lastStep).size());
  std::string number = std::to_string(step);
  if (number.size() < digits) number.insert(0, digits - number.size(), '0');
  return "step_" + number + ".png";
}

namespace {

fs::path FolderOf(const std::string& file) {
  const fs::path folder = fs::path(file).parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

void CheckFile(const std::string& option, const std::string& file) {
  CheckWritableTarget(file, option + " " + file);
}

}  // namespace

RunPictures::RunPictures(const RunOptions& run) : options_(run.pictures) {
  const bool any = options_.picture || options_.frames || options_.movie || options_.every;
  if (any && run.saveScenario) {
    throw UsageError(
        "--save-scenario writes a scenario instead of running: it takes no "
        "--picture, --frames, --movie or --every");
  }
  if (options_.every && !Active() && !run.cells && !run.agentsTable) {
    throw UsageError(
        "--every needs --frames DIR or --movie FILE, or --cells FILE or --agents-table FILE");
  }
  if (options_.every) {
    every_ = StrToInt(*options_.every);
    if (every_ < 1) throw SegworkError("--every " + *options_.every + " is below 1");
  }
  if (options_.picture) CheckFile("--picture", *options_.picture);
  if (options_.movie) {
    CheckFile("--movie", *options_.movie);
    FindFfmpeg();
  }
  if (options_.frames) {
    const std::string& dir = *options_.frames;
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
      throw SegworkError("--frames " + dir + ": is a file, not a folder");
    }
    if (fs::is_directory(dir, ec)) {
      CheckWritableFolder(dir, "--frames " + dir);
    } else {
      // A missing folder is made, but only in one that exists: a mistyped path is not built.
      fs::path path = fs::path(dir).lexically_normal();
      if (!path.has_filename()) path = path.parent_path();
      CheckWritableFolder(FolderOf(path.string()).string(), "--frames " + dir);
      if (!fs::create_directory(dir, ec)) {
        throw SegworkError("--frames " + dir + ": cannot make the folder: " + ec.message());
      }
    }
  }
}

RunPictures::~RunPictures() = default;

const RasterCanvas& RunPictures::Paint(const Simulation& model) {
  if (!canvas_) canvas_ = std::make_unique<RasterCanvas>(model.PanelWidth, model.PanelHeight);
  RepaintAll(model.Cells, model.Agents, *canvas_);
  return *canvas_;
}

void RunPictures::TakeFrame(const Simulation& model) {
  const RasterCanvas& picture = Paint(model);
  if (options_.frames) {
    SavePng(picture, (fs::path(*options_.frames) / FrameName(model.StepCount, lastStep_)).string());
  }
  if (movie_) movie_->AddFrame(picture);
}

void RunPictures::AfterSetup(const Simulation& model, int64_t steps) {
  lastStep_ = model.StepCount + steps;
  if (options_.movie) {
    movie_ = std::make_unique<MovieWriter>(*options_.movie, model.PanelWidth, model.PanelHeight);
  }
  if (Active()) TakeFrame(model);
}

void RunPictures::AfterStep(const Simulation& model) {
  if (Active() && model.StepCount % every_ == 0) TakeFrame(model);
}

void RunPictures::AtEnd(const Simulation& model) {
  if (options_.picture) SavePng(Paint(model), *options_.picture);
  if (movie_) movie_->Finish();
}

}  // namespace segwork::cli

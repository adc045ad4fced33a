#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace segwork {
class Simulation;
class MovieWriter;
class RasterCanvas;
}  // namespace segwork

namespace segwork::cli {

struct RunOptions;

// --picture, --frames, --movie and --every of `segwork-cli run`, as given.
struct PictureOptions {
  std::optional<std::string> picture;
  std::optional<std::string> frames;
  std::optional<std::string> movie;
  std::optional<std::string> every;
};

void AddPictureOptions(CLI::App& run, PictureOptions& options);

// The frame of `step` in a run that ends at `lastStep`: step_000020.png, with as many digits as
// the last step needs (at least six), so the names sort in step order.
std::string FrameName(int64_t step, int64_t lastStep);

// The pictures and the movie of one headless run. The run paints nothing; at a picture's moment
// the state is painted whole into a panel-sized raster, as the window paints it.
class RunPictures {
 public:
  // Checks every option (folders, ffmpeg, --every) before the run prints anything.
  explicit RunPictures(const RunOptions& options);
  ~RunPictures();

  // The run is set up and will make `steps` steps: the movie starts, frame 0 is taken.
  void AfterSetup(const Simulation& model, int64_t steps);
  void AfterStep(const Simulation& model);
  // After the last step: the picture is written, the movie finished.
  void AtEnd(const Simulation& model);

 private:
  bool Active() const { return options_.frames || options_.movie; }
  const RasterCanvas& Paint(const Simulation& model);
  void TakeFrame(const Simulation& model);

  PictureOptions options_;
  int64_t every_ = 1;
  int64_t lastStep_ = 0;
  std::unique_ptr<RasterCanvas> canvas_;
  std::unique_ptr<MovieWriter> movie_;
};

}  // namespace segwork::cli

// Not a check: steps per second of the desktop program at "fastest" without painting, side by
// side with "segwork-cli run" in the same process on the same settings and seed, setup included
// in both. SEGWORK_MEASURE_FPS=N times N steps (default: 5000 and 50000), three rounds each:
//   ./build/tools/segwork_desktop_tools --gtest_filter='*StepsPerSecond'
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSlider>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/run_command.h"
#include "tests/ui_desktop.h"

namespace segwork::ui {
namespace {

using testing::Desktop;

constexpr const char* kSeed = "5";

// The CLI's seconds for the run, and its digest line.
double CliSeconds(const std::string& steps, std::string& digest) {
  std::FILE* out = std::tmpfile();
  const char* argv[] = {"segwork-cli", "run", "--steps", steps.c_str(), "--seed", kSeed};
  std::ostringstream info, err;
  QElapsedTimer clock;
  clock.start();
  cli::RunCommandLine(6, argv, out, info, err);
  const double seconds = double(clock.nsecsElapsed()) * 1e-9;
  std::rewind(out);
  char line[256];
  while (std::fgets(line, sizeof line, out)) {
    if (std::string(line).rfind("digest,", 0) == 0) digest = std::string(line, 23);
  }
  std::fclose(out);
  return seconds;
}

TEST_F(Desktop, MeasureStepsPerSecond) {
  std::vector<std::string> counts = {"5000", "50000"};
  if (!qEnvironmentVariableIsEmpty("SEGWORK_MEASURE_FPS")) {
    counts = {qgetenv("SEGWORK_MEASURE_FPS").toStdString()};
  }
  Stop();
  Find<QSlider>("TrB_speed")->setValue(Find<QSlider>("TrB_speed")->maximum());
  Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
  Type("E_seed", kSeed);
  for (const std::string& steps : counts) {
    Type("E_stopT", steps.c_str());
    for (int round = 0; round < 3; ++round) {
      std::string cliDigest;
      const double cli = CliSeconds(steps, cliDigest);
      QElapsedTimer clock;
      clock.start();
      Click("B_setup");
      Click("B_stop");
      testing::RunUntilStopped(main->Timer1(), 600000);
      const double desktop = double(clock.nsecsElapsed()) * 1e-9;
      char digest[40];
      std::snprintf(digest, sizeof digest, "digest,%016" PRIx64, cli::StateDigest(model.Sim));
      const double n = std::stod(steps);
      std::printf(
          "%6s steps: cli %.3f s = %.0f steps/s, desktop %.3f s = %.0f steps/s, "
          "desktop/cli %.2f, digests %s\n",
          steps.c_str(), cli, n / cli, desktop, n / desktop, cli / desktop,
          cliDigest == digest ? "equal" : "DIFFER");
    }
  }
}

}  // namespace
}  // namespace segwork::ui

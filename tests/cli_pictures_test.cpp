#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/run_pictures.h"
#include "core/errors.h"
#include "display/raster_canvas.h"
#include "files/movie.h"
#include "files/picture.h"
#include "tests/support.h"

namespace segwork::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

using testing::ReadFile;

testing::Result RunSmall(const std::vector<std::string>& extra) {
  return testing::RunCli(
      testing::Plus({"run", "--seed", "3", "--steps", "5", "--agents", "300", "--groups", "3",
                     "--cell-size", "20", "--move-distance", "5"},
                    extra));
}

bool HaveFfmpeg() {
  try {
    FindFfmpeg();
    return true;
  } catch (const SegworkError&) {
    return false;
  }
}

TEST(CliPictures, FramesEveryKStepsSortByNameAndLeaveTheRowsAlone) {
  const testing::TempDir scratch;
  const fs::path& dir = scratch.Path();
  const testing::Result plain = RunSmall({});
  const testing::Result pictured = RunSmall({"--frames", (dir / "new").string(), "--every", "2",
                                             "--picture", (dir / "last.png").string()});
  ASSERT_EQ(pictured.status, 0) << pictured.err;
  EXPECT_EQ(pictured.out, plain.out);
  EXPECT_EQ(pictured.err, plain.err);
  EXPECT_EQ(Listing(dir / "new"),
            (std::vector<std::string>{"step_000000.png", "step_000002.png", "step_000004.png"}));
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"last.png", "new"}));
  // Step 5 moved agents since step 4.
  EXPECT_NE(ReadFile(dir / "last.png"), ReadFile(dir / "new" / "step_000004.png"));
  EXPECT_EQ(FrameName(20, 1234567), "step_0000020.png");
}

TEST(CliPictures, BadPictureOptionsFailBeforeAnyRow) {
  const testing::TempDir scratch;
  const fs::path& dir = scratch.Path();
  const std::string missing = (dir / "missing").string();
  // Options that cannot go together are usage errors (status 2), the rest bad values (1).
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--every", "2"}, "--every needs --frames DIR or --movie FILE"},
      {{"--frames", (dir / "f").string(), "--every", "0"}, "--every 0 is below 1"},
      {{"--picture", missing + "/p.png"}, "the folder " + missing + " does not exist"},
      {{"--frames", missing + "/f"}, "the folder " + missing + " does not exist"},
      {{"--picture", dir.string()}, "give a file name, not a folder"},
      {{"--picture", (dir / "p.png").string(), "--save-scenario", (dir / "s.json").string()},
       "it takes no --picture"},
  };
  for (const auto& [args, message] : cases) {
    const testing::Result r = RunSmall(args);
    EXPECT_EQ(
        r.status,
        message.find("--every needs") == 0 || message.find("takes no") != message.npos ? 2 : 1)
        << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(missing));

  const std::string path = std::getenv("PATH");
  ::setenv("PATH", "", 1);
  const testing::Result r = RunSmall({"--movie", (dir / "m.mp4").string()});
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ffmpeg was not found"), std::string::npos) << r.err;
  EXPECT_TRUE(Listing(dir).empty());
}

TEST(CliPictures, MovieOfAnOddSizedPanel) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const testing::TempDir scratch;
  const fs::path& dir = scratch.Path();
  const testing::Result r =
      RunSmall({"--panel", "101", "--movie", (dir / "m.mp4").string(), "--every", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"m.mp4"});
  EXPECT_EQ(ReadFile(dir / "m.mp4").substr(4, 4), "ftyp");
}

// An ffmpeg that fails at once: its closed pipe must not end this process, and what it said
// comes back with the file's name; nothing is left behind.
TEST(MovieFile, AnFfmpegThatFailsIsReportedWithWhatItSaid) {
  const testing::TempDir scratch;
  const fs::path& dir = scratch.Path();
  {
    std::ofstream script(dir / "ffmpeg");
    script << "#!/bin/sh\necho 'no such encoder' >&2\nexit 3\n";
  }
  fs::permissions(dir / "ffmpeg", fs::perms::owner_all);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", dir.c_str(), 1);
  const std::string movie = (dir / "m.mp4").string();
  std::string message;
  try {
    MovieWriter writer(movie, 400, 300);
    RasterCanvas frame(400, 300);
    for (int i = 0; i < 20; ++i) writer.AddFrame(frame);
    writer.Finish();
  } catch (const SegworkError& e) {
    message = e.what();
  }
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(message.rfind(movie + ": ", 0), 0u) << message;
  EXPECT_NE(message.find("no such encoder"), std::string::npos) << message;
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"ffmpeg"});
}

TEST(PictureFile, AFailedSaveLeavesTheOldFileAndNoTemporary) {
  const testing::TempDir scratch;
  const fs::path& dir = scratch.Path();
  const std::string file = (dir / "p.png").string();
  std::ofstream(file) << "old";
  RasterCanvas canvas(300, 300);
  uint32_t noise = 1;  // does not compress below the limit
  for (int i = 0; i < 300 * 300; ++i) {
    noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
    canvas.Pixels()[i] = noise | 0xFF000000u;
  }
  // A full disk, as far as this process can tell: writes past 1000 bytes fail.
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000;
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  std::string message;
  try {
    SavePng(canvas, file);
  } catch (const SegworkError& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message.rfind(file + ": cannot be written", 0), 0u) << message;
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"p.png"});

  SavePng(canvas, file);
  EXPECT_EQ(ReadFile(file).substr(1, 3), "PNG");
}

}  // namespace
}  // namespace segwork::cli

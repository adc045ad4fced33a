#include <chrono>
#include <cinttypes>
#include <memory>

#include "cli/output.h"
#include "cli/run_command.h"

namespace segwork::cli {

namespace {

struct Timing {
  double early = 0;        // seconds spent in steps 1-50
  double equilibrium = 0;  // seconds spent in steps 401-500
};

int Bench(const RunOptions& o, std::FILE* out, std::ostream& err) {
  RunOptions options = o;
  if (!options.seed) options.seed = "1";
  const std::unique_ptr<HeadlessRun> literal = PrepareRun(options, EngineKind::Literal, err, false);
  const std::unique_ptr<HeadlessRun> fast = PrepareRun(options, EngineKind::Fast, err, true);
  Timing timing[2];
  bool equal = StateDigest(*literal) == StateDigest(*fast);
  int64_t firstDifference = equal ? -1 : 0;
  // Interleaved step by step, so that a busy machine slows both alike.
  for (int step = 1; step <= 500; ++step) {
    Simulation* models[2] = {literal.get(), fast.get()};
    for (int e = 0; e < 2; ++e) {
      const auto begin = std::chrono::steady_clock::now();
      models[e]->AdvanceOneStep();
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      if (step <= 50) timing[e].early += seconds;
      if (step > 400) timing[e].equilibrium += seconds;
    }
    if (equal && StateDigest(*literal) != StateDigest(*fast)) {
      equal = false;
      firstDifference = step;
    }
    if (step % 100 == 0) err << "# step " << step << "\n";
  }
  const double rate[2][2] = {{50 / timing[0].early, 100 / timing[0].equilibrium},
                             {50 / timing[1].early, 100 / timing[1].equilibrium}};
  char text[1024];
  int length = std::snprintf(text, sizeof text,
                             "engine,steps_per_s_1_50,steps_per_s_401_500\n"
                             "literal,%.1f,%.1f\nfast,%.1f,%.1f\n",
                             rate[0][0], rate[0][1], rate[1][0], rate[1][1]);
  if (!equal) {
    length += std::snprintf(text + length, sizeof text - size_t(length),
                            "first_difference_after_step,%" PRId64 "\n", firstDifference);
  }
  std::snprintf(text + length, sizeof text - size_t(length),
                "ratio_early=%.2f ratio_equilibrium=%.2f digests=%s\n", rate[1][0] / rate[0][0],
                rate[1][1] / rate[0][1], equal ? "equal" : "DIFFER");
  RowWriter(out, "standard output").Write(text);
  // Not 2, the status of a usage error.
  return equal ? 0 : 3;
}

}  // namespace

int ExecuteBench(const RunOptions& options, std::FILE* out, std::ostream& err) {
  return ExitStatusOf([&] { return Bench(options, out, err); }, out, err);
}

}  // namespace segwork::cli

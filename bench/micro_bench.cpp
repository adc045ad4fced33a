// Micro-benchmarks of the hot operations; run with --benchmark_filter to pick some.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "window/CellForm.h"

namespace {

std::atomic<uint64_t> allocations{0};

}  // namespace

// Counts every allocation, so a benchmark can show what a step allocates. The replaced operators
// pair malloc with free, which the compiler cannot see through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace segwork {
namespace {

std::unique_ptr<Model> DefaultModel(EngineKind engine, int layout = 0) {
  auto m = std::make_unique<Model>();
  m->Sim.EngineChoice = engine;
  m->Sim.ClockSeed = [] { return 1u; };
  m->CreateMainWindow();
  if (layout == 1) m->Sim.LayOutStreetGrid();
  if (layout == 2) m->Sim.LayOutRandomStreets();
  m->SetUpRun();
  return m;
}

EngineKind EngineOf(const benchmark::State& state) {
  return state.range(0) ? EngineKind::Fast : EngineKind::Literal;
}

// One evaluation of every occupied cell, nothing remembered between passes.
void BM_EvaluateAll(benchmark::State& state) {
  auto m = DefaultModel(EngineOf(state), int(state.range(1)));
  for (auto _ : state) {
    m->Sim.CellsEdited();
    for (const TAgent& a : m->Sim.Agents)
      benchmark::DoNotOptimize(m->Sim.EvaluateCell(a.CellX, a.CellY));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(m->Sim.Agents.size()));
}
BENCHMARK(BM_EvaluateAll)->ArgsProduct({{0, 1}, {0, 2}})->ArgNames({"fast", "layout"});

// Weight building with the grid layout (8 lines) and the random one (19 lines).
void BM_BuildWeights(benchmark::State& state) {
  auto m = DefaultModel(EngineOf(state), int(state.range(1)));
  for (auto _ : state) m->Sim.BuildNeighbourhoodWeights();
}
BENCHMARK(BM_BuildWeights)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->ArgNames({"fast", "layout"})
    ->Unit(benchmark::kMillisecond);

void BM_SegregationIndices(benchmark::State& state) {
  auto m = DefaultModel(EngineKind::Fast);
  for (int i = 0; i < 200; ++i) m->AdvanceOneStep();
  int calls = 0;
  for (auto _ : state) {
    m->ComputeSegregationIndices();
    if (++calls % 1000 == 0) {
      state.PauseTiming();
      m->ResetAnalysis();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_SegregationIndices)->Unit(benchmark::kMicrosecond);

void BM_FindClusters(benchmark::State& state) {
  auto m = DefaultModel(EngineKind::Fast);
  for (int i = 0; i < 200; ++i) m->AdvanceOneStep();
  for (auto _ : state) m->FindClusters();
}
BENCHMARK(BM_FindClusters)->Unit(benchmark::kMicrosecond);

// Whole steps, early (from setup) and at equilibrium (after 400 steps), with the allocations
// each step makes: a constant few for the recording, none per agent.
void BM_Step(benchmark::State& state) {
  auto m = DefaultModel(EngineOf(state), 1);
  const int warmUp = int(state.range(1));
  for (int i = 0; i < warmUp; ++i) m->AdvanceOneStep();
  uint64_t allocated = 0, steps = 0;
  for (auto _ : state) {
    if (m->Sim.StepCount >= warmUp + 50) {
      state.PauseTiming();
      m = DefaultModel(EngineOf(state), 1);
      for (int i = 0; i < warmUp; ++i) m->AdvanceOneStep();
      state.ResumeTiming();
    }
    const uint64_t before = allocations.load(std::memory_order_relaxed);
    m->AdvanceOneStep();
    allocated += allocations.load(std::memory_order_relaxed) - before;
    ++steps;
  }
  state.counters["allocs_per_step"] = double(allocated) / double(steps);
  state.counters["agents"] = double(m->Sim.Agents.size());
}
BENCHMARK(BM_Step)
    ->ArgsProduct({{0, 1}, {0, 400}})
    ->ArgNames({"fast", "after"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace segwork

BENCHMARK_MAIN();

#!/usr/bin/python3
"""The Python module against segwork-cli, side by side in one run (ratios, not seconds):

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [build/segwork-cli]

- segwork.run at the defaults (500 steps) against the command (its process included);
- Simulation.groups: the cost of one access on a small and a 16 times larger world;
- experiment with two jobs against one;
- the memory of a long Simulation with its history kept to the latest 10,000 steps.
"""
import resource
import statistics
import subprocess
import sys
import time

import segwork

CLI = sys.argv[1] if len(sys.argv) > 1 else "build/segwork-cli"


def median_time(action, repeat=7):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    words = [CLI, "run", "--seed", "1", "--steps", "500"]
    command = median_time(lambda: subprocess.run(words, capture_output=True, check=True))
    module = median_time(lambda: segwork.run(steps=500, seed=1))
    print(f"run, 500 steps: module {module * 1e3:.1f} ms, command {command * 1e3:.1f} ms, "
          f"ratio {module / command:.3f}")

    small = segwork.Simulation(seed=1, cell_size=24, agents=400)
    large = segwork.Simulation(seed=1, cell_size=6)
    n = 20000
    t_small = median_time(lambda: [small.groups for _ in range(n)], 3) / n
    t_large = median_time(lambda: [large.groups for _ in range(n)], 3) / n
    print(f"groups: {t_small * 1e6:.2f} us on {small.groups.size} cells, "
          f"{t_large * 1e6:.2f} us on {large.groups.size} cells (ratio {t_large / t_small:.2f})")

    def batch(jobs):
        return lambda: segwork.experiment(vary={"threshold": [20, 40]}, runs=4, steps=300,
                                          seed=1, jobs=jobs, progress=False)
    one, two = median_time(batch(1), 3), median_time(batch(2), 3)
    print(f"experiment of 8 runs: 1 job {one:.2f} s, 2 jobs {two:.2f} s, speed-up {one / two:.2f}")

    sim = segwork.Simulation(seed=1, cell_size=20, agents=900, threshold=70)
    sim.step(20000)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    sim.step(100000)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"Simulation: peak memory {before / 1024:.1f} MB after 20,000 steps, "
          f"{after / 1024:.1f} MB after 120,000; history keeps {len(sim.history)} steps")


main()

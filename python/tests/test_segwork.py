"""The module against segwork-cli: the same options give the same rows, digests and files."""
import io
import os
import resource
import subprocess

import numpy as np
import pandas as pd
import pytest

import segwork

CLI = os.environ.get("SEGWORK_CLI", "segwork-cli")
WORLD = {"cell_size": 20, "agents": 900, "groups": 3, "move_distance": 5}
WORDS = ["--cell-size", "20", "--agents", "900", "--groups", "3", "--move-distance", "5"]


def cli(*words):
    done = subprocess.run([CLI, *words], capture_output=True, text=True, check=True)
    return done.stdout


def table(text):
    return pd.read_csv(io.StringIO(text), float_precision="round_trip")


def fnv1a(groups):
    h = 0xCBF29CE484222325
    for byte in groups.astype("<u4").tobytes():
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


def test_a_run_and_a_simulation_are_the_commands_run():
    rows = segwork.run(steps=40, seed=9, threshold=45, empty_cells="similar", **WORLD)
    text = cli("run", "--steps", "40", "--seed", "9", "--threshold", "45", "--empty-cells",
               "similar", *WORDS).splitlines()
    pd.testing.assert_frame_equal(rows, table("\n".join(text[:-2])))
    assert rows.attrs == {"clusters": int(text[-2].split(",")[1]),
                          "digest": text[-1].split(",")[1], "seed": 9}

    sim = segwork.Simulation(seed=9, threshold=45, empty_cells="similar", **WORLD)
    view = sim.groups
    sim.step(25).step(15)
    assert sim.step_count == 40 and sim.digest == rows.attrs["digest"]
    assert fnv1a(view) == sim.digest, "the view follows the cells without a copy"
    assert not view.flags.writeable and sim.groups.ctypes.data == view.ctypes.data
    assert sim.clusters == rows.attrs["clusters"]
    pd.testing.assert_frame_equal(sim.history, rows, check_dtype=False)
    assert sim.measures["movers"] == rows.movers.iloc[-1]
    assert sim.params["threshold"] == "45" and sim.params["empty_cells"] == "similar"
    shares = sim.shares
    assert np.isnan(shares[sim.groups == 0]).all() and (shares[sim.groups > 0] >= 0).all()
    assert sim.picture().shape == (694, 694, 3) and sim._repr_png_()[:4] == b"\x89PNG"

    spatial = "entropy_h,moran,mean_is"
    rows = segwork.run(steps=10, seed=9, measures=spatial, **WORLD)
    pd.testing.assert_frame_equal(rows, table("\n".join(cli(
        "run", "--steps", "10", "--seed", "9", "--measures", spatial, *WORDS).splitlines()[:-2])))
    sim = segwork.Simulation(seed=9, measures=spatial.split(","), **WORLD).step(10)
    pd.testing.assert_frame_equal(sim.history, rows, check_dtype=False)
    assert sim.measures["moran_2"] == rows.moran_2.iloc[-1]


def test_experiments_and_sweeps_are_the_commands_rows():
    options = dict(runs=2, steps=60, until="settled", seed=4, jobs=2, progress=False)
    varied = segwork.experiment(vary={"threshold": [30, 60], "groups": "2:1:3"}, **options,
                                **WORLD)
    design = pd.DataFrame({"threshold": [30, 30, 60, 60], "groups": [2, 3, 2, 3]})
    pd.testing.assert_frame_equal(segwork.experiment(design=design, **options, **WORLD), varied)
    text = cli("experiment", "--vary", "threshold=30,60", "--vary", "groups=2,3", "--runs", "2",
               "--steps", "60", "--until", "settled", "--seed", "4", "--quiet", *WORDS)
    pd.testing.assert_frame_equal(varied, table(text))

    rows, series = segwork.sweep("parameter", summary=True, parameter="radius", from_=1, to=3,
                                 runs=2, steps=20, seed=4, **WORLD)
    text = cli("sweep", "parameter", "--parameter", "radius", "--from", "1", "--to", "3",
               "--runs", "2", "--steps", "20", "--seed", "4", "--summary", "--quiet", *WORDS)
    pd.testing.assert_frame_equal(rows, table(text.partition("\n\n")[0]))
    assert set(series.series) >= {"clusters_average", "is_fit"}


def test_a_saved_run_goes_on_as_the_command_goes_on(tmp_path):
    sim = segwork.Simulation(seed=2, **WORLD).step(30)
    sim.save_run(tmp_path / "r.segrun")
    tail = cli("run", "--open-run", str(tmp_path / "r.segrun"), "--steps", "20").splitlines()
    opened = segwork.open_run(tmp_path / "r.segrun").step(20)
    assert opened.digest == tail[-1].split(",")[1] == sim.step(20).digest


def test_errors_are_pythons(tmp_path):
    with pytest.raises(TypeError, match="unknown keyword 'tolerance'; the keywords: .*threshold"):
        segwork.run(tolerance=30)
    refused = subprocess.run([CLI, "run", "--tile-size", "x"], capture_output=True, text=True)
    with pytest.raises(ValueError) as e:
        segwork.Simulation(tile_size="x")
    assert str(e.value) == refused.stderr.strip()
    with pytest.raises(FileNotFoundError):
        segwork.run(scenario=tmp_path / "none.json")
    (tmp_path / "bad.json").write_text("{")
    with pytest.raises(ValueError, match="bad.json"):
        segwork.experiment(vary={"threshold": [30]}, scenario=tmp_path / "bad.json")


def test_many_simulations_do_not_leak():
    def grown():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(30):
        segwork.Simulation(seed=1, **WORLD).step(5).picture()
    before = grown()
    for _ in range(300):
        segwork.Simulation(seed=1, **WORLD).step(5).picture()
    assert grown() - before < 20_000  # kilobytes; a leak of one picture a run would be 580 MB


def test_an_interrupt_stops_an_experiment_cleanly():
    import signal
    import threading
    threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        segwork.experiment(vary={"threshold": [60, 70]}, runs=200, steps=3000, seed=1, jobs=2,
                           progress=False)
    assert len(segwork.experiment(vary={"threshold": [30]}, steps=5, seed=1, progress=False)) == 1

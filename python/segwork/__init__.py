"""segwork from Python: the segregation model on a grid crossed by streets, at the speed of its
compiled core, with pandas and numpy results.

    import segwork
    rows = segwork.run(steps=200, seed=1, threshold=40)      # the rows of `segwork-cli run`
    sim = segwork.Simulation(seed=1, groups=3)               # a run in memory
    sim.step(50); sim.groups; sim.picture()
    table = segwork.experiment(vary={"threshold": [30, 50], "groups": [2, 4]}, runs=3,
                               until="settled")

Keywords are the command line's option names with '_' for '-'; values are numbers, True/False
or the texts the controls take. The same options give the same rows as `segwork-cli`.
"""

import errno
import io
import os
import tempfile
import warnings

import numpy as np
import pandas as pd

from . import _segwork

__all__ = ["run", "Simulation", "open_run", "experiment", "sweep", "parameters", "measures"]

_PARAMETERS = _segwork.parameters()
_BY_KEYWORD = {row["python"]: row for row in _PARAMETERS if row["name"] != "steps"}
# Keywords of a run beside the parameter table's, and their options.
_RUN_KEYWORDS = {
    "layout": "--layout",
    "weights": "--weights",
    "street_line": "--street-line",
    "panel": "--panel",
    "engine": "--engine",
}


def parameters():
    """The parameter table as a DataFrame: keyword, option name, default, kind, range, help."""
    return pd.DataFrame(_PARAMETERS)[["python", "name", "default", "kind", "help"]]


def measures():
    """The measure catalog: name, whether it has a column per group, what it is."""
    return pd.DataFrame(_segwork.measures(), columns=["name", "per_group", "description"])


def _text(value):
    """A value as its control's text: whole numbers without a point, reals with the decimal
    comma the weight fields take."""
    if isinstance(value, (bool, np.bool_)):
        return "yes" if value else "no"
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        value = float(value)
        return str(int(value)) if value.is_integer() else repr(value).replace(".", ",")
    return str(value)


def _known():
    return ", ".join(sorted(list(_BY_KEYWORD) + list(_RUN_KEYWORDS)))


def _words(params):
    """The command line's words for keyword parameters, and the controls without an option."""
    words, overrides = [], []
    for key, value in params.items():
        if key in _RUN_KEYWORDS:
            if key == "street_line":
                for line in value:
                    text = line if isinstance(line, str) else ",".join(_text(v) for v in line)
                    words += ["--street-line", text]
            else:
                words += [_RUN_KEYWORDS[key], _text(value)]
            continue
        row = _BY_KEYWORD.get(key)
        if row is None:
            raise TypeError(f"unknown keyword '{key}'; the keywords: {_known()}")
        if not row["option"]:
            overrides.append((row["name"], _text(value)))
        elif row["kind"] == "flag":
            on = value if isinstance(value, (bool, np.bool_)) else _text(value) == "yes"
            words.append(f"--{row['name']}={'true' if on else 'false'}")
        else:
            words += [f"--{row['name']}", _text(value)]
    return words, overrides


def _common(words, seed, scenario):
    if seed is not None:
        words += ["--seed", _text(seed)]
    if scenario is not None:
        path = os.fspath(scenario)
        if not os.path.exists(path):
            raise FileNotFoundError(errno.ENOENT, "no such scenario file", path)
        words += ["--scenario", path]
    return words


def _checked(status, out, err):
    """The output of a command that succeeded; its message as ValueError otherwise."""
    messages = [line for line in err.splitlines() if line.startswith("segwork-cli: warning:")]
    for line in messages:
        warnings.warn(line[len("segwork-cli: warning: "):], stacklevel=3)
    if status != 0:
        failure = "\n".join(line for line in err.splitlines() if line not in messages)
        raise ValueError(failure.strip() or f"segwork-cli ended with status {status}")
    return out.decode()


def _table(text):
    if not text.strip():
        return pd.DataFrame()
    return pd.read_csv(io.StringIO(text), float_precision="round_trip", keep_default_na=False,
                       na_values=[""])


def _measure_list(measures):
    if measures is None:
        return ""
    return measures if isinstance(measures, str) else ",".join(measures)


def run(steps=500, seed=None, scenario=None, measures=None, **params):
    """One run, as `segwork-cli run` makes it: a DataFrame of its rows (a step each), with
    attrs "clusters", "digest" (16 hex digits) and "seed". measures: names of the measure
    catalog (segwork.measures()) for the columns, as `run --measures` takes them.

    Keywords:
{parameters}
    """
    words, overrides = _words(params)
    words = _common(["run", "--steps", _text(steps)] + words, seed, scenario)
    if measures is not None:
        words += ["--measures", _measure_list(measures)]
    status, out, err = _segwork.run(words, overrides)
    text = _checked(status, out, err)
    lines = text.splitlines()
    tail = dict(line.split(",", 1) for line in lines[-2:])
    frame = _table("\n".join(lines[:-2]) + "\n")
    frame.attrs["clusters"] = int(tail["clusters"])
    frame.attrs["digest"] = tail["digest"]
    seed_line = next((m for m in err.splitlines() if m.startswith("# seed ")), None)
    frame.attrs["seed"] = int(seed) if seed is not None else (
        int(seed_line.split()[2]) if seed_line else None)
    return frame


class Simulation:
    """A run in memory, set up as `segwork-cli run` sets one up; `step(n)` goes on.

    history: the steps whose measures `.history` keeps, the latest ones (None: all of them;
    memory grows with the steps). measures: the catalog's measures of `.measures` and
    `.history` (default: the columns of `run`).

    Keywords:
{parameters}
    """

    def __init__(self, seed=None, scenario=None, history=10000, measures=None, **params):
        words, overrides = _words(params)
        words = _common(["run"] + words, seed, scenario)
        self._core = _segwork.Simulation.prepare(words, overrides, _cap(history),
                                                 _measure_list(measures))
        for line in self._core.warnings.splitlines():
            if line.startswith("segwork-cli: warning: "):
                warnings.warn(line[len("segwork-cli: warning: "):], stacklevel=2)

    @classmethod
    def _of(cls, core):
        sim = cls.__new__(cls)
        sim._core = core
        return sim

    def step(self, n=1):
        """Makes n time steps; returns the simulation."""
        self._core.step(int(n))
        return self

    @property
    def step_count(self):
        return self._core.step_count

    @property
    def measures(self):
        """The latest step's measures by column name (empty before the first step)."""
        return self._core.measures

    @property
    def history(self):
        """The measures of the steps kept, a row a step, as `run` prints them."""
        frame = pd.DataFrame(self._core.history(), columns=self._core.columns)
        counts = [c for c in ("step", "agents", "movers") if c in frame.columns]
        return frame.astype({c: "int64" for c in counts})

    @property
    def groups(self):
        """Each cell's group (0 empty), rows x columns: a read-only view of the model's cells."""
        return self._core.groups

    @property
    def streets(self):
        """Each cell's street type (-3..3, 0 none)."""
        return self._core.streets()

    @property
    def shares(self):
        """Each occupied cell's share of similar neighbours in percent; NaN where empty."""
        return self._core.shares()

    def picture(self):
        """The world painted as the window paints it: uint8, height x width x 3 (RGB)."""
        return self._core.picture()

    @property
    def clusters(self):
        """The clusters of the world as it stands, as `run` counts them at its end."""
        return self._core.clusters()

    @property
    def digest(self):
        """FNV-1a of the cells' groups, as `segwork-cli run` prints it."""
        return self._core.digest

    @property
    def seed(self):
        return self._core.seed

    @property
    def params(self):
        """Every parameter as the controls hold it, by keyword."""
        return self._core.params()

    def to_xarray(self):
        """The world as an xarray Dataset (needs python3-xarray): `group` and `street` over
        (y, x), the step, seed and every parameter as attributes, as `run --cells FILE.nc`
        writes a step."""
        import xarray as xr
        attrs = {"step": self.step_count, "seed": self.seed, **self.params}
        return xr.Dataset({"group": (("y", "x"), np.array(self.groups)),
                           "street": (("y", "x"), self.streets)}, attrs=attrs)

    def save_run(self, path):
        """Writes the whole run, to go on from with open_run or `segwork-cli run --open-run`."""
        self._core.save_run(os.fspath(path))

    def save_scenario(self, path):
        self._core.save_scenario(os.fspath(path))

    def _repr_png_(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "world.png")
            self._core.save_picture(path)
            with open(path, "rb") as f:
                return f.read()

    def __repr__(self):
        rows, cols = self._core.groups.shape
        return (f"<segwork.Simulation {cols}x{rows}, {self._core.group_count} groups, "
                f"step {self.step_count}, seed {self.seed}>")


def _cap(history):
    return -1 if history is None else int(history)


def open_run(path, engine="fast", history=10000, measures=None):
    """A saved run (the window's "Save run…", `run --save-run`), ready for its next step."""
    path = os.fspath(path)
    if not os.path.exists(path):
        raise FileNotFoundError(errno.ENOENT, "no such saved run", path)
    return Simulation._of(_segwork.Simulation.open(path, engine, _cap(history),
                                                   _measure_list(measures)))


def _values(values):
    if isinstance(values, str):
        return values
    texts = [_text(v) for v in values]
    return (";" if any("," in t for t in texts) else ",").join(texts)


def _progress(enabled):
    if not enabled:
        return None, None
    try:
        from tqdm.auto import tqdm
    except ImportError:
        return None, None
    bar = tqdm(total=None, unit="run")

    def update(done, total):
        bar.total = total
        bar.n = done
        bar.refresh()

    return update, bar


def experiment(vary=None, design=None, runs=1, steps=500, until=None, measures=None, every=None,
               seed=None, jobs=None, scenario=None, progress=True, **params):
    """The experiment of `segwork-cli experiment`, as a DataFrame of its rows.

    vary: {parameter: values}, values a list or a range text "from:step:to"; all combinations,
    the first varying slowest. design: a DataFrame, a row a run (columns parameters, and
    optionally "seed"). runs: repetitions of each. until="settled" ends a run at its first step
    without movers. measures: names of the measure catalog. every: a row every K steps.
    Runs on `jobs` threads (default: all cores); Ctrl-C stops after whole runs.
    """
    words, overrides = _words(params)
    words = _common(["experiment", "--quiet", "--runs", _text(runs), "--steps", _text(steps)]
                    + words, seed, scenario)
    for name, values in (vary or {}).items():
        words += ["--vary", f"{name}={_values(values)}"]
    if until is not None:
        words += ["--until", until]
    if measures is not None:
        words += ["--measures", measures if isinstance(measures, str) else ",".join(measures)]
    if every is not None:
        words += ["--every", _text(every)]
    if jobs is not None:
        words += ["--jobs", _text(jobs)]
    update, bar = _progress(progress)
    with tempfile.TemporaryDirectory() as folder:
        if design is not None:
            path = os.path.join(folder, "design.csv")
            table = pd.DataFrame(design)
            with open(path, "w", encoding="utf-8") as f:
                f.write(",".join(str(c) for c in table.columns) + "\n")
                for row in table.itertuples(index=False):
                    f.write(",".join(_csv(_text(v)) for v in row) + "\n")
            words += ["--design", path]
        try:
            status, out, err = _segwork.experiment(words, overrides, update)
        finally:
            if bar is not None:
                bar.close()
    return _table(_checked(status, out, err))


def _csv(text):
    return '"' + text.replace('"', '""') + '"' if ("," in text or '"' in text) else text


def sweep(kind, summary=False, seed=None, steps=None, scenario=None, from_=None, to=None,
          increment=None, runs=None, parameter=None, poly_degree=None, jobs=None, **params):
    """One of the three experiments of the windows ("parameter", "growth", "streets"), as
    `segwork-cli sweep` runs it: a DataFrame of its rows; with summary=True (rows, series), the
    series as the window derives them (averages, trend, fit)."""
    words, overrides = _words(params)
    if overrides:
        raise TypeError("a sweep takes the weights as weights='w;w;w;w;w;w;w'")
    words = ["sweep", kind, "--quiet"] + words
    for option, value in (("--steps", steps), ("--from", from_), ("--to", to),
                          ("--increment", increment), ("--runs", runs),
                          ("--parameter", parameter), ("--poly-degree", poly_degree),
                          ("--jobs", jobs)):
        if value is not None:
            words += [option, _text(value)]
    if summary:
        words.append("--summary")
    words = _common(words, seed, scenario)
    status, out, err = _segwork.command(words)
    text = _checked(status, out, err)
    rows, _, series = text.partition("\n\n")
    if not summary:
        return _table(rows + "\n")
    return _table(rows + "\n"), _table(series)


def _describe():
    lines = []
    for row in _PARAMETERS:
        if row["name"] == "steps":
            continue
        extra = f", {row['range'][0]}..{row['range'][1]}" if "range" in row else ""
        if row["words"]:
            extra += ", one of " + ", ".join(row["words"])
        lines.append(f"        {row['python']} (default {row['default']!r}{extra}): {row['help']}")
    lines.append("        layout ('grid' or 'random'), weights ('w;w;w;w;w;w;w'), "
                 "street_line ([x0, y0, x1, y1, type], ...), panel (pixels), "
                 "engine ('fast' or 'literal')")
    return "\n".join(lines)


run.__doc__ = run.__doc__.replace("{parameters}", _describe())
Simulation.__doc__ = Simulation.__doc__.replace("{parameters}", _describe())

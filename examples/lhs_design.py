#!/usr/bin/python3
"""A Latin hypercube design for `segwork-cli experiment --design`: one row a run.

    /usr/bin/python3 lhs_design.py 40 > design.csv

Density is varied through the number of agents on the default 116 x 116 grid, the threshold in
percent and the number of groups; each column is rounded to the values its control takes.
"""
import sys

import pandas as pd
from scipy.stats import qmc

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 40
sample = qmc.LatinHypercube(d=3, seed=7).random(runs)
low, high = [2000, 10, 2], [13000, 70, 6]
scaled = qmc.scale(sample, low, high)
design = pd.DataFrame({
    "agents": scaled[:, 0].round().astype(int),
    "threshold": scaled[:, 1].round().astype(int),
    "groups": scaled[:, 2].round().astype(int),
})
design.to_csv(sys.stdout, index=False)

#!/bin/bash
# The street sweep in four shards, one process each, on this machine's cores; -k keeps the
# shards' output in order, so streets.csv is byte for byte the unsharded sweep.
parallel -k segwork-cli sweep streets --agents 8000 --from 2 --to 10 --increment 2 --runs 2 \
    --steps 100 --seed 1 --quiet --jobs 1 --shard {}/4 ::: 0 1 2 3 > streets.csv

#!/bin/bash
# Density x threshold x groups, 10 repetitions each until settled, in four shards, one process
# each, on this machine's cores; -k keeps the shards' output in order, so experiment.csv is byte
# for byte the unsharded experiment.
parallel -k segwork-cli experiment --vary agents=1500,3000,4000 --vary threshold=20:10:60 \
    --vary groups=2,4 --runs 10 --steps 1000 --until settled --cell-size 10 --move-distance 30 \
    --seed 1 --quiet --jobs 1 --shard {}/4 ::: 0 1 2 3 > experiment.csv

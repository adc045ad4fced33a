#!/bin/bash
#SBATCH --job-name=segwork-design
#SBATCH --array=0-7
#SBATCH --cpus-per-task=2
#SBATCH --output=design-%a.log
# One block of the design file's runs per array task, written to design-<task>.csv as its runs
# finish; each run ends when every agent is satisfied, or after 2000 steps. A task cancelled or
# requeued finishes its block when submitted again (--resume); joined in task order the blocks are
# the unsharded experiment: cat design-{0..7}.csv > rows.csv
# Options after the script's name go to the experiment: sbatch design-array.sh --runs 5
segwork-cli experiment --design "${DESIGN:-design.csv}" --seed 7 --steps 2000 --until settled \
    --quiet --jobs "$SLURM_CPUS_PER_TASK" --shard "$SLURM_ARRAY_TASK_ID/8" \
    --output "design-$SLURM_ARRAY_TASK_ID.csv" --resume "$@"

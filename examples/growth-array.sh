#!/bin/bash
#SBATCH --job-name=segwork-growth
#SBATCH --array=0-9
#SBATCH --cpus-per-task=2
#SBATCH --output=growth-%a.log
# One shard of the growth sweep per array task, written to growth-<task>.csv as its runs finish.
# With --resume a task that was cancelled, hit its time limit or was requeued finishes its shard
# when submitted again (sbatch --array=<task> growth-array.sh), and a finished one does nothing.
# Options after the script's name go to the sweep: sbatch growth-array.sh --steps 150 --runs 2
segwork-cli sweep growth --seed 42 --quiet --jobs "$SLURM_CPUS_PER_TASK" \
    --shard "$SLURM_ARRAY_TASK_ID/10" --output "growth-$SLURM_ARRAY_TASK_ID.csv" --resume "$@"

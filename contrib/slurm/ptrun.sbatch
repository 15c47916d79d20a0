#!/bin/bash
# ptrun on every node of the allocation, one task per node with the node to
# itself; the results are merged and reported into the submit directory.
#
#   sbatch --nodes=4 ptrun.sbatch                        # --copies 1,all --runs 5
#   sbatch --nodes=4 ptrun.sbatch --copies 1,all --runs 9
#
#SBATCH --job-name=ptrun
#SBATCH --ntasks-per-node=1
#SBATCH --exclusive
#SBATCH --time=04:00:00
#SBATCH --output=ptrun-%j.out
set -euo pipefail
shopt -s nullglob

ptrun=${PTRUN:-ptrun}
[ "$#" -gt 0 ] || set -- --copies 1,all --runs 5
export PTRUN_OUT=${SLURM_SUBMIT_DIR:?not in a Slurm job}/ptrun-${SLURM_JOB_ID:?not in a Slurm job}
mkdir -p "$PTRUN_OUT"

# Every processor of the node for the one task, and no binding by Slurm:
# ptrun pins each copy itself, and "all" must see the whole node.
status=0
srun --ntasks-per-node=1 --cpus-per-task="${SLURM_CPUS_ON_NODE:?}" --cpu-bind=none \
    bash -c 'exec "$@" --label "$(hostname -s)" --json "$PTRUN_OUT/$(hostname -s).json"' ptrun-task "$ptrun" "$@" ||
    status=$?

files=("$PTRUN_OUT"/*.json)
if [ "${#files[@]}" -eq 0 ]; then
    echo "ptrun wrote no results on any node" >&2
    exit 1
fi
"$ptrun" merge "${files[@]}" -o "$PTRUN_OUT/merged.json"
for format in html md csv; do
    "$ptrun" report --format "$format" -o "$PTRUN_OUT/report.$format" "$PTRUN_OUT/merged.json"
done
echo "results of ${#files[@]} nodes in $PTRUN_OUT (report.html, report.md, report.csv, merged.json)"
exit "$status"

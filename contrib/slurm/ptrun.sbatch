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
# A folder per attempt: a job that Slurm requeues keeps its id, and must not
# merge the files its first attempt left.
export PTRUN_OUT=${SLURM_SUBMIT_DIR:?not in a Slurm job}/ptrun-${SLURM_JOB_ID:?not in a Slurm job}
[ "${SLURM_RESTART_COUNT:-0}" -eq 0 ] || PTRUN_OUT+=.$SLURM_RESTART_COUNT
mkdir "$PTRUN_OUT" "$PTRUN_OUT/exit"

# Every processor of the node for the one task, and no binding by Slurm:
# ptrun pins each copy itself, and "all" must see the whole node. Each node
# writes under its Slurm name, the name the allocation lists, and notes
# ptrun's exit code so that a node without results can be told apart from
# one that never ran.
status=0
srun --ntasks-per-node=1 --cpus-per-task="${SLURM_CPUS_ON_NODE:?}" --cpu-bind=none \
    bash -c 'node=${SLURMD_NODENAME:?}; code=0
             "$@" --label "$node" --json "$PTRUN_OUT/$node.json" || code=$?
             echo "$code" > "$PTRUN_OUT/exit/$node"; exit "$code"' ptrun-task "$ptrun" "$@" ||
    status=$?

# Every node of the allocation is in the report: one that wrote no results
# gets a file saying so and why.
stubs=$(python3 - "$PTRUN_OUT" $(scontrol show hostnames "${SLURM_JOB_NODELIST:?}") <<'PY'
import json, os, secrets, sys
out, nodes = sys.argv[1], sys.argv[2:]
for node in nodes:
    path = os.path.join(out, node + ".json")
    if os.path.exists(path):
        continue
    ran = os.path.exists(os.path.join(out, "exit", node))
    stub = {"schema_version": 2, "call_id": secrets.token_hex(8), "outcome": "no results",
            "no_results_reason": "ptrun failed" if ran else "no answer from the node",
            "host": {"id": node, "hostname": node, "label": None}, "runs": []}
    with open(path, "w", encoding="utf-8") as f:
        json.dump(stub, f)
    print(node)
PY
)
if [ -n "$stubs" ]; then
    echo "no results from: $(echo $stubs)" >&2
    [ "$status" -ne 0 ] || status=1
fi

files=("$PTRUN_OUT"/*.json)
"$ptrun" merge "${files[@]}" -o "$PTRUN_OUT/merged.json"
for format in html md csv; do
    "$ptrun" report --format "$format" -o "$PTRUN_OUT/report.$format" "$PTRUN_OUT/merged.json"
done
echo "results of ${#files[@]} nodes in $PTRUN_OUT (report.html, report.md, report.csv, merged.json)"
exit "$status"

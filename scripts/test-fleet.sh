#!/usr/bin/env bash
# The fleet recipes of contrib/, run for real on this machine:
#   - the Ansible playbook with ansible-core against an inventory of
#     localhost (local connection) under three names: one host on its own,
#     one of the group that shares a physical machine, and one whose run
#     fails; ptrun runs the test suite's stand-in pt, which answers at once.
#     The failed host's results are still fetched and merged, the playbook
#     ends failed, and the merged report has all three hosts.
#   - the Slurm batch script: checked with bash -n, then its body run with
#     Slurm's variables set by hand and srun standing in as "run the command
#     once, here" (one node).
set -euo pipefail
cd "$(dirname "$0")/.."
deps=(ansible-core python3)
. scripts/ptrun-stand-in.sh

# A plan per host for the stand-in: enough scores for --copies 1,all --runs 2
# on this machine, or an error at once.
calls=$(( 2 * (1 + $(nproc)) ))
for host in solo shared; do
    for _ in $(seq "$calls"); do echo $(( 900 + RANDOM % 100 )); done > "$work/plan-$host"
done
echo "error out of memory" > "$work/plan-broken"

cat > "$work/inventory" <<INVENTORY
[fleet]
solo
broken

[ptrun_shared]
shared

[all:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
INVENTORY

echo "== ansible-playbook against localhost"
status=0
ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCALHOST_WARNING=0 \
    ansible-playbook -i "$work/inventory" "$root/contrib/ansible/ptrun-fleet.yml" \
    -e "$(python3 -c 'import json, sys; w, p, s = sys.argv[1:]; print(json.dumps({
        "ptrun_binary": p, "ptrun_local": p, "ptrun_arguments": ["--copies", "1,all", "--runs", "2", "--pt", s],
        "ptrun_environment": {"PT_STAND_IN_PLAN": w + "/plan-{{ inventory_hostname }}", "TMPDIR": w},
        "ptrun_remote_dir": w + "/remote", "ptrun_results_dir": w + "/results", "ptrun_poll": 1}))' \
        "$work" "$ptrun" "$stand_in")" > "$work/ansible.log" 2>&1 || status=$?
cat "$work/ansible.log"
[ "$status" -ne 0 ] || { echo "the playbook passed although one host's run failed" >&2; exit 1; }
grep -q 'ptrun failed on broken' "$work/ansible.log"
python3 - "$work/results" "$calls" <<'PY'
import json, sys
results, calls = sys.argv[1], int(sys.argv[2])
merged = json.load(open(results + "/merged.json"))
hosts = sorted(h["id"] for h in merged["hosts"])
assert hosts == ["broken", "shared", "solo"], hosts
for host in ("shared", "solo"):
    runs = [r for r in merged["runs"] if r["host"] == host]
    assert len(runs) == calls and all(r["score"] is not None for r in runs), (host, len(runs))
broken = [r for r in merged["runs"] if r["host"] == "broken"]
assert len(broken) == 1 and broken[0]["score"] is None and "out of memory" in broken[0]["error"], broken
assert merged["outcome"] == "failed"
page = open(results + "/report.html").read()
assert page.count("<svg") >= 4 and "Host broken" in page and "Host shared" in page
assert "| solo | A | 1 | 2 |" in open(results + "/report.md").read()
print("merged:", len(merged["runs"]), "runs of hosts", ", ".join(hosts))
PY

echo "== the Slurm batch script"
bash -n contrib/slurm/ptrun.sbatch
mkdir -p "$work/bin" "$work/submit"
cat > "$work/bin/srun" <<'SRUN'
#!/usr/bin/env bash
# One node: leave out srun's options and run the command here.
while [ "$#" -gt 0 ] && [ "${1#--}" != "$1" ]; do shift; done
exec "$@"
SRUN
chmod +x "$work/bin/srun"
rm -f "$work/plan-solo.log"
(cd "$work/submit" &&
    PATH=$work/bin:$PATH SLURM_SUBMIT_DIR=$work/submit SLURM_JOB_ID=4242 SLURM_JOB_NUM_NODES=1 \
    SLURM_CPUS_ON_NODE=$(nproc) PTRUN=$ptrun PT_STAND_IN_PLAN=$work/plan-solo TMPDIR=$work \
    bash "$root/contrib/slurm/ptrun.sbatch" --copies 1,all --runs 2 --pt "$stand_in")
out=$work/submit/ptrun-4242
node=$(hostname -s)
python3 - "$out" "$node" "$calls" <<'PY'
import json, sys
out, node, calls = sys.argv[1], sys.argv[2], int(sys.argv[3])
merged = json.load(open(out + "/merged.json"))
assert [h["id"] for h in merged["hosts"]] == [node], merged["hosts"]
assert len(merged["runs"]) == calls, len(merged["runs"])
assert "<svg" in open(out + "/report.html").read()
print("slurm:", len(merged["runs"]), "runs of", node)
PY
echo "== fleet recipes passed"

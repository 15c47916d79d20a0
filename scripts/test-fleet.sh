#!/usr/bin/env bash
# The fleet recipes of contrib/ on the real engines, started on this machine
# and ended whatever happens (scripts/fleet-engines.sh):
#   - Slurm (slurmctld, slurmd, munge): two nodes, the second slurmd in a
#     network namespace (one node without namespaces), cores bound to tasks
#     by default; the batch script under sbatch --wait with the test suite's
#     stand-in pt (the binding trap, and a node whose ptrun fails without
#     writing), and once with the real pt, which runs while Ansible is tried.
#   - Ansible (ansible-core) over OpenSSH to three hosts, each a network
#     namespace with an sshd of its own (several sshd on loopback addresses
#     where namespaces cannot be made): a host of its own, two hosts sharing
#     one machine (ptrun_shared), a failing host; then a re-run in which the
#     shared machine no longer answers and a fourth host never did; and an
#     INI inventory that gives ptrun_arguments as text.
set -euo pipefail
cd "$(dirname "$0")/.."
began=$SECONDS

engines=(ansible-core openssh-server openssh-client slurmctld slurmd slurm-client munge iproute2 util-linux procps)
if [ "$(id -u)" -eq 0 ] && [ ! -e /usr/sbin/policy-rc.d ]; then
    # Debian starts a daemon as its package is installed unless told not to.
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    bash scripts/install-deps.sh "${engines[@]}"
    rm -f /usr/sbin/policy-rc.d
    trap - EXIT
else
    bash scripts/install-deps.sh "${engines[@]}"
fi
deps=(python3)
. scripts/ptrun-stand-in.sh
cmake --build --preset release -j "$(nproc)" --target pt
. scripts/fleet-engines.sh
version() { dpkg-query -W -f '${Version}' "$1"; }
echo "engines: slurm-wlm $(version slurmd), munge $(version munge), ansible-core $(version ansible-core)," \
    "openssh-server $(version openssh-server); load average $(cut -d' ' -f1-3 /proc/loadavg)"
cpus=$(nproc)
calls=$((1 + cpus))   # pt calls of --copies 1,all --runs 1
fail() { echo "FAILED: $*" >&2; exit 1; }
check() { python3 "$root/scripts/fleet_check.py" "$@"; }

echo "== Slurm"
ssh_keys
if namespaces_possible; then
    echo "hosts: network namespaces of this test, in $subnet.0/27"
    host_namespace 3
    munge_up
    slurm_up "$subnet.13" "$subnet.13" "$ns" "$subnet.14"
    nodes=(ptnode1 ptnode2)
else
    echo "hosts: network namespaces cannot be made here: one Slurm node, several sshd on loopback addresses"
    munge_up
    slurm_up 127.0.0.1 127.0.0.1
    nodes=(ptnode1)
fi
sinfo
# job NAME SCRIPT SBATCH-OPTIONS... -- ARGUMENTS...: sbatch --wait in the
# submit folder NAME; then results NAME is the job's results folder and
# status NAME its exit code.
job() {
    local name=$1 script=$2 sbatch_options=() id status=0
    shift 2
    while [ "$1" != -- ]; do sbatch_options+=("$1"); shift; done
    shift
    mkdir -p "$work/$name"
    # In the background, so that a signal to the test is handled at once.
    (cd "$work/$name" && exec sbatch --wait --parsable "${sbatch_options[@]}" "$script" "$@") > "$work/$name/id" &
    wait $! || status=$?
    id=$(cat "$work/$name/id")
    echo "${id%%;*}" > "$work/$name/id"
    echo "$status" > "$work/$name/status"
    echo "job $name (${id%%;*}): exit $status"
    cat "$work/$name/ptrun-${id%%;*}.out"
}
results() { echo "$work/$1/ptrun-$(cat "$work/$1/id")"; }
status() { cat "$work/$1/status"; }
# every_processor OUT NODE...: each node's largest round had a copy on every processor.
every_processor() {
    python3 - "$cpus" "$@" <<'PY'
import json, sys
cpus, out, nodes = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
for node in nodes:
    runs = json.load(open(f"{out}/{node}.json"))["runs"]
    used = sorted(r["cpu"] for r in runs if r["copies"] == max(r["copies"] for r in runs))
    if used != list(range(cpus)):
        sys.exit(f"{node}: the largest round ran on processors {used}, not on all {cpus}")
PY
}

echo "-- the stand-in on ${#nodes[@]} nodes, cores bound by default"
for _ in $(seq $((${#nodes[@]} * calls))); do echo $((900 + RANDOM % 100)); done > "$work/plan-slurm"
export PTRUN=$ptrun PT_STAND_IN_PLAN=$work/plan-slurm TMPDIR=$work
job binding "$root/contrib/slurm/ptrun.sbatch" --nodes="${#nodes[@]}" -- --copies 1,all --runs 1 --pt "$stand_in"
[ "$(status binding)" -eq 0 ] || fail "the job failed"
every_processor "$(results binding)" "${nodes[@]}"
python3 - "$(results binding)" "${nodes[@]}" <<'PY'
import json, sys
merged = json.load(open(sys.argv[1] + "/merged.json"))
assert sorted(h["id"] for h in merged["hosts"]) == sys.argv[2:] and merged["outcome"] == "completed", merged["hosts"]
PY

echo "-- the same without --cpus-per-task and --cpu-bind=none: the check above must catch it"
if [ "$cpus" -lt 2 ]; then
    echo "skipped: one processor here, where a task bound to one core sees them all"
else
    sed 's/ --cpus-per-task="${SLURM_CPUS_ON_NODE:?}" --cpu-bind=none//' "$root/contrib/slurm/ptrun.sbatch" \
        > "$work/unbound.sbatch"
    ! cmp -s "$work/unbound.sbatch" "$root/contrib/slurm/ptrun.sbatch" || fail "the srun line changed: update the test"
    : > "$work/plan-slurm.log"
    job unbound "$work/unbound.sbatch" --nodes=1 -- --copies 1,all --runs 1 --pt "$stand_in"
    if every_processor "$(results unbound)" ptnode1; then fail "a job bound to one core went unnoticed"; fi
fi

echo "-- a node whose ptrun fails without writing, and one whose pt fails"
dying=${nodes[-1]}
cat > "$work/ptrun-dies" <<SCRIPT
#!/bin/sh
# ptrun, except on $dying, where it fails before writing anything.
[ "\${SLURMD_NODENAME:-}" != $dying ] || [ "\$1" = merge ] || [ "\$1" = report ] || exit 3
exec "$ptrun" "\$@"
SCRIPT
chmod +x "$work/ptrun-dies"
echo "error out of memory" > "$work/plan-slurm"
: > "$work/plan-slurm.log"
PTRUN=$work/ptrun-dies job failing "$root/contrib/slurm/ptrun.sbatch" --nodes="${#nodes[@]}" -- \
    --copies 1 --runs 1 --pt "$stand_in"
out=$(results failing)
[ "$(status failing)" -ne 0 ] || fail "the job passed although its nodes failed"
grep -q "no results from: $dying\$" "$out.out" || fail "no word of $dying's lost results"
check stub "$out/$dying.json" "$dying" "ptrun failed"
python3 - "$out" "$dying" "${nodes[@]}" <<'PY'
import json, sys
for node in set(sys.argv[3:]) - {sys.argv[2]}:
    real = json.load(open(f"{sys.argv[1]}/{node}.json"))
    assert real["outcome"] == "failed" and real["runs"][0]["error"] == "out of memory", (node, real["runs"])
PY
check listed "$out/report.md" "$dying" "ptrun failed"

echo "-- the real pt, validated, one run (in the background while Ansible is tried)"
(unset PT_STAND_IN_PLAN && job real "$root/contrib/slurm/ptrun.sbatch" --nodes=1 -- --copies 1 --runs 1) \
    > "$work/real.log" 2>&1 &
real_job=$!

echo "== Ansible over SSH"
if [ "${#namespaces[@]}" -gt 0 ]; then
    for i in 0 1 2; do
        host_namespace "$i"
        addr[i]=$subnet.$((4 * i + 2)) port[i]=22
        sshd_up "host$i" "${addr[i]}" 22 "$ns"
    done
    gone_addr=${addr[2]} gone_port=2   # nothing listens there
else
    read -r 'port[0]' 'port[1]' 'port[2]' gone_port <<< "$(free_ports 4)"
    for i in 0 1 2; do
        addr[i]=127.0.0.$((i + 2))
        sshd_up "host$i" "${addr[i]}" "${port[i]}"
    done
    gone_addr=127.0.0.5
fi

# inventory FILE [HOST LINE] [VARIABLE LINE]: solo has a machine of its own
# (host0), shared-a and shared-b share host1, broken (host2) runs a pt that
# fails.
inventory() {
    cat > "$1" <<INVENTORY
[fleet]
solo ansible_host=${addr[0]} ansible_port=${port[0]}
broken ansible_host=${addr[2]} ansible_port=${port[2]}
${2:-}

[ptrun_shared]
shared-a ansible_host=${addr[1]} ansible_port=${port[1]}
shared-b ansible_host=${addr[1]} ansible_port=${port[1]}

[all:vars]
ansible_user=root
ansible_ssh_private_key_file=$work/ssh/id
ansible_python_interpreter=/usr/bin/python3
${3:-}
INVENTORY
}
plans() {
    rm -f "$work"/plan-*.log   # each plan from its first line again
    for _ in $(seq "$calls"); do echo $((900 + RANDOM % 100)); done > "$work/plan-solo"
    # The guests' runs last two seconds or more, so that two run together
    # overlap in their times, which have whole seconds.
    for host in shared-a shared-b; do
        for _ in $(seq "$calls"); do echo "idle $((900 + RANDOM % 100))"; done > "$work/plan-$host"
    done
    echo "error out of memory" > "$work/plan-broken"
    echo "hang" > "$work/plan-slow"
}

export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_PIPELINING=1 \
    ANSIBLE_TIMEOUT=10 ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp \
    ANSIBLE_REMOTE_TEMP=$work/ansible/remote ANSIBLE_ASYNC_DIR=$work/ansible/async \
    ANSIBLE_SSH_ARGS="-F /dev/null -o ControlMaster=no -o BatchMode=yes -o IdentitiesOnly=yes
    -o UserKnownHostsFile=$work/ssh/known_hosts"
settings() {
    python3 -c 'import json, sys; w, p, s, text = sys.argv[1:]; print(json.dumps({
        "ptrun_binary": p, "ptrun_local": p, "ptrun_remote_dir": w + "/remote", "ptrun_results_dir": w + "/results",
        "ptrun_environment": {"PT_STAND_IN_PLAN": w + "/plan-{{ inventory_hostname }}", "TMPDIR": w, "PT_FLEET_RUN": w},
        "ptrun_poll": 1, **({} if text else {"ptrun_arguments": ["--copies", "1,all", "--runs", "1", "--pt", s]})}))' \
        "$work" "$ptrun" "$stand_in" "${1:-}"
}
# playbook NAME INVENTORY [SETTINGS]: runs it, keeps its output in NAME.log,
# and fails the test if the playbook passed: every run here has a failure.
playbook() {
    local log=$work/$1.log status=0
    ansible-playbook -i "$2" "$root/contrib/ansible/ptrun-fleet.yml" -e "$(settings "${3:-}")" > "$log" 2>&1 &
    wait $! || status=$?
    cat "$log"
    [ "$status" -ne 0 ] || fail "$1: the playbook passed although a host failed"
}

echo "-- run 1: solo, shared-a and shared-b (one machine), broken"
plans
inventory "$work/inventory-1"
playbook run-1 "$work/inventory-1"
grep -q 'no complete run on broken (ptrun failed): see ' "$work/run-1.log" || fail "run 1: no word of broken's failure"
first=$(readlink -f "$work/results/latest")
python3 - "$first" "$calls" <<'PY'
import json, sys
run, calls = sys.argv[1], int(sys.argv[2])
merged = json.load(open(run + "/merged.json"))
hosts = sorted(h["id"] for h in merged["hosts"])
assert hosts == ["broken", "shared-a", "shared-b", "solo"], hosts
for host in ("shared-a", "shared-b", "solo"):
    runs = [r for r in merged["runs"] if r["host"] == host]
    assert len(runs) == calls and all(r["score"] is not None for r in runs), (host, len(runs))
broken = [r for r in merged["runs"] if r["host"] == "broken"]
assert len(broken) == 1 and broken[0]["score"] is None and "out of memory" in broken[0]["error"], broken
assert merged["outcome"] == "failed"
# The guests of one machine never ran at the same time.
times = sorted((c["started_utc"], c["ended_utc"], c["host"]) for c in merged["calls"] if c["host"].startswith("shared"))
assert all(start < end for start, end, _ in times), ("a guest's run took under 2 s: overlaps would not show", times)
assert times[0][1] <= times[1][0], ("the guests of one machine ran at the same time", times)
page = open(run + "/report.html").read()
assert page.count("<svg") >= 4 and "Host broken" in page and "Host shared-a" in page
print("run 1:", len(merged["runs"]), "runs of hosts", ", ".join(hosts), "; guests one after the other:", times)
PY

echo "-- run 2: the shared machine no longer answers, gone never did, slow's pt hangs past ptrun_timeout"
stop_daemon "sshd host1"
plans
inventory "$work/inventory-2" "gone ansible_host=$gone_addr ansible_port=$gone_port
slow ansible_host=${addr[2]} ansible_port=${port[2]} ptrun_timeout=3"
playbook run-2 "$work/inventory-2"
grep -q 'no complete run on broken (ptrun failed), gone (unreachable), shared-a (unreachable), shared-b (unreachable),'\
' slow (timed out)' "$work/run-2.log" || fail "run 2: the hosts without results are not named with their reasons"
second=$(readlink -f "$work/results/latest")
python3 - "$first" "$second" <<'PY'
import glob, json, os, sys
def calls_of(run):
    return {os.path.basename(p)[:-5]: json.load(open(p))["call_id"] for p in glob.glob(run + "/*.json")
            if not p.endswith("/merged.json")}
old, new = calls_of(sys.argv[1]), calls_of(sys.argv[2])
assert sys.argv[1] != sys.argv[2] and sorted(old) == ["broken", "shared-a", "shared-b", "solo"], (sys.argv, old)
assert sorted(new) == ["broken", "gone", "shared-a", "shared-b", "slow", "solo"], new
assert not set(old.values()) & set(new.values()), "run 2 holds a file of run 1"
PY
for host_reason in gone:unreachable shared-a:unreachable shared-b:unreachable "slow:timed out"; do
    check stub "$second/${host_reason%%:*}.json" "${host_reason%%:*}" "${host_reason#*:}"
    check listed "$second/report.md" "${host_reason%%:*}" "${host_reason#*:}"
done
python3 - "$second/merged.json" <<'PY'
import json, sys
merged = json.load(open(sys.argv[1]))
assert {r["host"] for r in merged["runs"]} == {"solo", "broken"} and merged["outcome"] == "failed", merged["outcome"]
PY

echo "-- ptrun_arguments as text, as an INI inventory keeps a YAML list"
inventory "$work/inventory-3" "" 'ptrun_arguments=[--copies, "1", --runs, "1"]'
playbook text "$work/inventory-3" text
grep -q 'ptrun_arguments of solo is not a list (an INI inventory keeps' "$work/text.log" ||
    fail "no clear word on ptrun_arguments given as text"
grep -q "ptrun_arguments=\\['--copies', '1,all', '--runs', '5'\\];" "$work/text.log" || fail "no word on what to write"
[ "$(ls -d "$work"/results/run-* | wc -l)" -eq 2 ] || fail "a run began despite ptrun_arguments as text"

echo "== the real pt under Slurm"
wait "$real_job"
cat "$work/real.log"
[ "$(status real)" -eq 0 ] || fail "the real pt's job failed"
python3 - "$(results real)" <<'PY'
import json, sys
merged = json.load(open(sys.argv[1] + "/merged.json"))
assert merged["outcome"] == "completed" and [h["id"] for h in merged["hosts"]] == ["ptnode1"], merged["hosts"]
assert merged["builds"][0]["validated"] is True, merged["builds"][0]["validation"]
assert len(merged["runs"]) == 1 and merged["runs"][0]["score"] > 0, merged["runs"]
print("real pt:", merged["citation"])
PY

engines_down
left=$(leftovers)
[ -z "$left" ] || fail "left running: $left"
echo "== fleet recipes passed in $((SECONDS - began)) s (load average now: $(cut -d' ' -f1-3 /proc/loadavg))"

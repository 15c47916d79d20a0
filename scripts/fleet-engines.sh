# Sourced by test-fleet.sh: starts the real engines the fleet recipes run
# on, all of them on this machine and inside $work, and ends them whatever
# happens. Each daemon runs in the foreground of a background job, so $! is
# its own pid (nsenter, unshare and sh -c 'exec ...' all exec in
# place); each is ended by that pid. The hosts of the fleet are network
# namespaces of our own, each with a veth pair in 10.213.77.0/27 (a /30
# apiece), an address range used nowhere but inside them; where namespaces
# cannot be made, the sshd run on loopback addresses instead.
#
# Every process the test starts carries PT_FLEET_RUN=$work, directly or
# through the environment the recipes pass on, so that the check at the end
# can find one left running.

export PT_FLEET_RUN=$work
chmod 755 "$work"   # munged wants every folder above its socket open to all
daemons=()          # "pid name", in the order started
namespaces=()
netns_prefix=ptfleet-$$
veth_prefix=ptf$$
subnet=10.213.77

# Stops everything this file started: jobs first (their steps then end on
# their own), then the daemons by pid, then whatever still runs inside our
# namespaces, then the namespaces with their veths.
engines_down() {
    local entry pid ns deadline i
    if [ -n "${SLURM_CONF:-}" ] && [ -f "$SLURM_CONF" ]; then
        timeout 10 scancel --quiet --user=root 2>/dev/null || true
        deadline=$((SECONDS + 15))
        while [ -n "$(timeout 5 squeue -h -o %i 2>/dev/null)" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.5; done
    fi
    # The test's own background work (an sbatch --wait that would poll on
    # for a while), with what it started.
    local work_pids=()
    for pid in $(jobs -p); do
        [[ " ${daemons[*]} " == *" $pid "* ]] || work_pids+=($(ps -o pid= --ppid "$pid") "$pid")
    done
    if [ "${#work_pids[@]}" -gt 0 ]; then
        kill -TERM "${work_pids[@]}" 2>/dev/null || true
        deadline=$((SECONDS + 3))
        while ps -p "$(IFS=,; echo "${work_pids[*]}")" > /dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.2; done
        kill -KILL "${work_pids[@]}" 2>/dev/null || true
    fi
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        kill -TERM "${daemons[i]%% *}" 2>/dev/null || true
    done
    deadline=$((SECONDS + 10))
    for entry in "${daemons[@]}"; do
        pid=${entry%% *}
        while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    daemons=()
    for ns in "${namespaces[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
        ip netns delete "$ns" 2>/dev/null || true
    done
    namespaces=()
}

# Processes left running by this test: any process (but this check and its
# callers) with our marker in its environment, and any daemon of the kinds
# we start that was not running before we began.
leftovers() {
    python3 - "$work" "$daemons_before" <<'PY'
import os, sys
work, before = sys.argv[1], set(sys.argv[2].split())
mine, pid = set(), os.getpid()
while pid > 1:
    mine.add(pid)
    pid = int(open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[1])
for entry in os.listdir("/proc"):
    if not entry.isdigit() or int(entry) in mine:
        continue
    try:
        environ = open(f"/proc/{entry}/environ", "rb").read().split(b"\0")
        name = open(f"/proc/{entry}/comm").read().strip()
    except OSError:
        continue
    marked = f"PT_FLEET_RUN={work}".encode() in environ
    daemon = name in ("munged", "slurmctld", "slurmd", "slurmstepd", "sshd") and entry not in before
    if marked or daemon:
        print(entry, name)
PY
}
daemons_before=$(ps -e -o pid=,comm= | awk '$2 ~ /^(munged|slurmctld|slurmd|slurmstepd|sshd)$/ { print $1 }' | xargs)

engines_cleanup() {
    local status=$? left log
    if [ "$status" -ne 0 ]; then
        # What the daemons said, for a failure in CI, where $work is gone after.
        for log in "$work"/slurm/*.log "$work"/slurm/*.out "$work"/munge/*.out "$work"/ssh/*.log; do
            [ ! -s "$log" ] || { echo "-- ${log#"$work"/}:"; tail -n 15 "$log"; } >&2
        done
    fi
    engines_down
    left=$(leftovers)
    if [ -n "$left" ]; then
        echo "left running after the test, now ended: $(echo "$left" | tr '\n' ' ')" >&2
        for pid in $(echo "$left" | cut -d' ' -f1); do kill -KILL "$pid" 2>/dev/null || true; done
        [ "$status" -ne 0 ] || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap engines_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# start NAME LOG COMMAND...: a daemon in the foreground of a background job.
start() {
    local name=$1 log=$2
    shift 2
    "$@" > "$log" 2>&1 &
    daemons+=("$! $name")
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_until() {
    local limit=$1 what=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@" > /dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "$what: not ready after $limit s" >&2
            return 1
        fi
        sleep 0.2
    done
}

# free_ports N: N distinct TCP ports free on this machine now.
free_ports() {
    python3 - "$1" <<'PY'
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

# Whether this machine lets us make network namespaces, and the range is
# unused here (no address or route in it that is not ours).
# PT_FLEET_LOOPBACK=1 tries the loopback set-up of machines that cannot.
namespaces_possible() {
    local probe=$netns_prefix-probe
    [ -z "${PT_FLEET_LOOPBACK:-}" ] || return 1
    [ -z "$(ip -4 -o addr show to "$subnet.0/27")$(ip -4 route show root "$subnet.0/27")" ] || return 1
    ip netns add "$probe" 2>/dev/null || return 1
    ip netns delete "$probe"
}

# host_namespace INDEX: a namespace, $ns, with the machine at
# $subnet.(4i+1) and the namespace at $subnet.(4i+2).
host_namespace() {
    local i=$1 veth=$veth_prefix$1
    ns=$netns_prefix-$1
    ip netns add "$ns"
    namespaces+=("$ns")
    ip link add "$veth" type veth peer name eth0 netns "$ns"
    ip addr add "$subnet.$((4 * i + 1))/30" dev "$veth"
    ip link set "$veth" up
    ip -n "$ns" addr add "$subnet.$((4 * i + 2))/30" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$ns" link set lo up
}

munge_up() {
    mkdir -p "$work/munge" "$work/munge-socket"
    chmod 700 "$work/munge"
    chmod 755 "$work/munge-socket"
    head -c 1024 /dev/urandom > "$work/munge/munge.key"
    chmod 400 "$work/munge/munge.key"
    munge_socket=$work/munge-socket/munge.socket
    start munged "$work/munge/munged.out" munged --foreground --socket="$munge_socket" \
        --key-file="$work/munge/munge.key" --pid-file="$work/munge/munged.pid" \
        --log-file="$work/munge/munged.log" --seed-file="$work/munge/munged.seed"
    wait_until 10 munged bash -c "munge -S '$munge_socket' -n | unmunge -S '$munge_socket'"
}

# slurm_up CONTROLLER_ADDR NODE_ADDR [NAMESPACE2 NODE2_ADDR]: slurmctld and
# ptnode1 on this machine, ptnode2 in NAMESPACE2; each daemon with a host
# name of its own (a UTS namespace), as on a real cluster. Cores are bound
# by default, the common site setting the batch script must undo.
slurm_up() {
    local ctl_addr=$1 node1_addr=$2 ns2=${3:-} node2_addr=${4:-} s=$work/slurm hw ports
    mkdir -p "$s/state" "$s/spool-ptnode1" "$s/spool-ptnode2"
    hw=$(slurmd -C | head -n 1 | sed 's/^NodeName=[^ ]* //; s/ RealMemory=[0-9]*//')
    read -r ctl_port node_port <<< "$(free_ports 2)"
    cat > "$s/slurm.conf" <<CONF
ClusterName=ptfleet
SlurmctldHost=ptctl($ctl_addr)
SlurmctldPort=$ctl_port
SlurmdPort=$node_port
AuthType=auth/munge
AuthInfo=socket=$munge_socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool-%n
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd-%n.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
TaskPluginParam=Cores
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MailProg=/bin/true
NodeName=ptnode1 NodeAddr=$node1_addr $hw State=UNKNOWN
CONF
    [ -z "$ns2" ] || echo "NodeName=ptnode2 NodeAddr=$node2_addr $hw State=UNKNOWN" >> "$s/slurm.conf"
    echo "PartitionName=fleet Nodes=ALL Default=YES MaxTime=INFINITE State=UP" >> "$s/slurm.conf"
    export SLURM_CONF=$s/slurm.conf
    start slurmctld "$s/slurmctld.out" unshare --uts sh -c "hostname ptctl && exec slurmctld -D -f '$SLURM_CONF'"
    wait_until 30 slurmctld scontrol ping
    start slurmd "$s/slurmd-ptnode1.out" \
        unshare --uts sh -c "hostname ptnode1 && exec slurmd -D -f '$SLURM_CONF' -N ptnode1"
    # nsenter, not ip netns exec: that one mounts a /sys of its own, without
    # the cgroup folders slurmd looks at.
    [ -z "$ns2" ] || start slurmd "$s/slurmd-ptnode2.out" nsenter --net="/run/netns/$ns2" \
        unshare --uts sh -c "hostname ptnode2 && exec slurmd -D -f '$SLURM_CONF' -N ptnode2"
    wait_until 30 "the Slurm nodes" bash -c '! sinfo -h -o %T | grep -qv "^idle"'
}

# sshd_up NAME ADDRESS PORT [NAMESPACE]: an sshd that lets in root with the
# key this test made, and nothing else.
sshd_up() {
    local name=$1 address=$2 port=$3 ns=${4:-} d=$work/ssh
    cat > "$d/sshd-$name.conf" <<CONF
ListenAddress $address:$port
HostKey $d/host_key
PidFile none
AuthorizedKeysFile $d/id.pub
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
CONF
    if [ "$port" = 22 ]; then echo "$address $(cat "$d/host_key.pub")"
    else echo "[$address]:$port $(cat "$d/host_key.pub")"; fi >> "$d/known_hosts"
    start "sshd $name" "$d/sshd-$name.log" ${ns:+nsenter --net="/run/netns/$ns"} \
        /usr/sbin/sshd -D -e -f "$d/sshd-$name.conf"
    wait_until 10 "sshd $name" ssh -F /dev/null -i "$d/id" -o IdentitiesOnly=yes -o BatchMode=yes \
        -o UserKnownHostsFile="$d/known_hosts" -p "$port" "root@$address" true
}

ssh_keys() {
    mkdir -p "$work/ssh"
    # sshd's privilege separation folder, which its service makes elsewhere
    # (left in place: an empty folder, and another test's sshd may need it).
    mkdir -p /run/sshd
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/id"
}

# The pid of the daemon started under NAME.
daemon_pid() {
    local entry
    for entry in "${daemons[@]}"; do
        [ "${entry#* }" != "$1" ] || { echo "${entry%% *}"; return; }
    done
    return 1
}

# stop_daemon NAME: ends it (by its pid) in the middle of the test.
stop_daemon() {
    local pid
    pid=$(daemon_pid "$1")
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
}

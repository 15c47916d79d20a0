#!/usr/bin/env python3
"""The fleet recipes of contrib/ on the real engines, started on this machine
and ended whatever happens (scripts/fleet_engines.py):
  - Slurm (slurmctld, slurmd, munge): two nodes, the second slurmd in a
    network namespace (one node without namespaces), cores bound to tasks by
    default; the batch script under sbatch --wait with the test suite's
    stand-in pt (the binding trap, and a node whose ptrun fails without
    writing), and once with the real pt, which runs while Ansible is tried.
  - Ansible (ansible-core) over OpenSSH to three hosts, each a network
    namespace with an sshd of its own (several sshd on loopback addresses
    where namespaces cannot be made): a host of its own, two hosts sharing one
    machine (ptrun_shared), a failing host; then a re-run in which the shared
    machine no longer answers and a fourth host never did; and an INI
    inventory that gives ptrun_arguments as text.

usage: test_fleet.py (as root, from scripts/test-fleet.sh, which installs the
engines and builds pt, ptrun and the stand-in)"""
import contextlib
import glob
import json
import os
import random
import re
import sys
import time

sys.dont_write_bytecode = True   # no __pycache__ in the source tree
from fleet_engines import (SUBNET, Failure, Stopped, fleet_run, free_ports, munge, namespaces_possible,
                           network_namespace, process, run, slurm, ssh_keys, sshd)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PTRUN = f"{ROOT}/build/release/ptrun/ptrun"
STAND_IN = f"{ROOT}/build/release/tests/pt_stand_in"
SBATCH = f"{ROOT}/contrib/slurm/ptrun.sbatch"
PLAYBOOK = f"{ROOT}/contrib/ansible/ptrun-fleet.yml"
CPUS = os.cpu_count()
CALLS = 1 + CPUS   # pt calls of --copies 1,all --runs 1


def say(*words, end="\n"):
    print(*words, end=end, flush=True)


def check(ok, message):
    if not ok:
        raise Failure(message)


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def text_of(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def write(path, text, mode=None):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    if mode:
        os.chmod(path, mode)


def scores(count, prefix=""):
    return "".join(f"{prefix}{random.randint(900, 999)}\n" for _ in range(count))


def check_stub(path, host, reason):
    """path is exactly the stub of host: no results, because reason."""
    doc = load(path)
    call_id = doc.pop("call_id", "")
    check(re.fullmatch("[0-9a-f]{16}", str(call_id)), f"{path}: call_id {call_id!r} is not 16 hex digits")
    want = {"schema_version": 2, "outcome": "no results", "no_results_reason": reason,
            "host": {"id": host, "hostname": host, "label": None}, "runs": []}
    check(doc == want, f"{path}: {doc} is not the stub {want}")


def check_listed(path, host, reason):
    """The Markdown report lists host as without results, saying reason, on one
    line or in the host's own section."""
    text = text_of(path)
    if any(host in line and "no results" in line and reason in line for line in text.splitlines()):
        return
    section = re.search(rf"^#+ Host {re.escape(host)}\n(.*?)(?=^#+ |\Z)", text, re.M | re.S)
    check(section and "no results" in section.group(1) and reason in section.group(1),
          f"{path} does not list {host} as without results ({reason})")


class Slurm:
    """Jobs of the batch script under sbatch --wait, each in a submit folder of
    its own under the work folder."""

    def __init__(self, work, env, stack):
        self.work, self.env, self.stack = work, env, stack

    def submit(self, name, script, options, arguments, env=None):
        """Starts the job; returns the sbatch --wait process (ended with the
        test if the test ends first)."""
        folder = f"{self.work}/{name}"
        os.makedirs(folder)
        argv = ["sbatch", "--wait", "--parsable", *options, script, *arguments]
        return self.stack.enter_context(process(argv, f"{folder}/sbatch.out", env or self.env, cwd=folder,
                                                grace=3))

    def finish(self, name, job):
        """Waits for the job; returns its exit code and results folder, having
        shown its output."""
        status = job.wait()
        output = text_of(f"{self.work}/{name}/sbatch.out")
        found = re.search(r"^(\d+)", output, re.M)
        check(found, f"job {name}: sbatch printed no job id: {output}")
        job_id = found.group(1)
        say(f"job {name} ({job_id}): exit {status}")
        say(text_of(f"{self.work}/{name}/ptrun-{job_id}.out"), end="")
        return status, f"{self.work}/{name}/ptrun-{job_id}"

    def job(self, name, script, options, arguments, env=None):
        return self.finish(name, self.submit(name, script, options, arguments, env))


def every_processor(out, nodes):
    """None when each node's largest round had a copy on every processor, else why not."""
    for node in nodes:
        runs = load(f"{out}/{node}.json")["runs"]
        used = sorted(r["cpu"] for r in runs if r["copies"] == max(r["copies"] for r in runs))
        if used != list(range(CPUS)):
            return f"{node}: the largest round ran on processors {used}, not on all {CPUS}"
    return None


def slurm_stand_in(cluster, work, nodes):
    say(f"-- the stand-in on {len(nodes)} nodes, cores bound by default")
    write(f"{work}/plan-slurm", scores(len(nodes) * CALLS))
    env = dict(cluster.env, PTRUN=PTRUN, PT_STAND_IN_PLAN=f"{work}/plan-slurm", TMPDIR=work)
    arguments = ["--copies", "1,all", "--runs", "1", "--pt", STAND_IN]
    status, out = cluster.job("binding", SBATCH, [f"--nodes={len(nodes)}"], arguments, env)
    check(status == 0, "the job failed")
    why = every_processor(out, nodes)
    check(why is None, why)
    merged = load(f"{out}/merged.json")
    check(sorted(h["id"] for h in merged["hosts"]) == nodes and merged["outcome"] == "completed",
          f"binding: {merged['hosts']}, {merged['outcome']}")

    say("-- the same without --cpus-per-task and --cpu-bind=none: the check above must catch it")
    if CPUS < 2:
        say("skipped: one processor here, where a task bound to one core sees them all")
    else:
        script = text_of(SBATCH)
        unbound = script.replace(' --cpus-per-task="${SLURM_CPUS_ON_NODE:?}" --cpu-bind=none', "")
        check(unbound != script, "the srun line changed: update the test")
        write(f"{work}/unbound.sbatch", unbound)
        write(f"{work}/plan-slurm.log", "")
        _, out = cluster.job("unbound", f"{work}/unbound.sbatch", ["--nodes=1"], arguments, env)
        check(every_processor(out, ["ptnode1"]), "a job bound to one core went unnoticed")

    say("-- a node whose ptrun fails without writing, and one whose pt fails")
    dying = nodes[-1]
    write(f"{work}/ptrun-dies", f"""#!/bin/sh
# ptrun, except on {dying}, where it fails before writing anything.
[ "${{SLURMD_NODENAME:-}}" != {dying} ] || [ "$1" = merge ] || [ "$1" = report ] || exit 3
exec "{PTRUN}" "$@"
""", 0o755)
    write(f"{work}/plan-slurm", "error out of memory\n")
    write(f"{work}/plan-slurm.log", "")
    status, out = cluster.job("failing", SBATCH, [f"--nodes={len(nodes)}"], ["--copies", "1", "--runs", "1",
                                                                            "--pt", STAND_IN],
                              dict(env, PTRUN=f"{work}/ptrun-dies"))
    check(status != 0, "the job passed although its nodes failed")
    check(re.search(f"no results from: {dying}$", text_of(out + ".out"), re.M), f"no word of {dying}'s lost results")
    check_stub(f"{out}/{dying}.json", dying, "ptrun failed")
    for node in set(nodes) - {dying}:
        real = load(f"{out}/{node}.json")
        check(real["outcome"] == "failed" and real["runs"][0]["error"] == "out of memory", f"{node}: {real['runs']}")
    check_listed(f"{out}/report.md", dying, "ptrun failed")


class Fleet:
    """The Ansible side: hosts (name -> address, port) and the playbook runs."""

    def __init__(self, work, ssh, addresses, ports):
        self.work, self.ssh, self.addresses, self.ports = work, ssh, addresses, ports
        self.env = dict(os.environ, ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0",
                        ANSIBLE_LOCALHOST_WARNING="0", ANSIBLE_PIPELINING="1", ANSIBLE_TIMEOUT="10",
                        ANSIBLE_HOME=f"{work}/ansible", ANSIBLE_LOCAL_TEMP=f"{work}/ansible/tmp",
                        ANSIBLE_REMOTE_TEMP=f"{work}/ansible/remote", ANSIBLE_ASYNC_DIR=f"{work}/ansible/async",
                        ANSIBLE_SSH_ARGS="-F /dev/null -o ControlMaster=no -o BatchMode=yes -o IdentitiesOnly=yes"
                        f" -o UserKnownHostsFile={ssh}/known_hosts")

    def host(self, name, machine, extra=""):
        return f"{name} ansible_host={self.addresses[machine]} ansible_port={self.ports[machine]}{extra}"

    def inventory(self, path, hosts="", variables=""):
        """solo has a machine of its own (host0), shared-a and shared-b share
        host1, broken (host2) runs a pt that fails."""
        write(path, f"""[fleet]
{self.host("solo", 0)}
{self.host("broken", 2)}
{hosts}

[ptrun_shared]
{self.host("shared-a", 1)}
{self.host("shared-b", 1)}

[all:vars]
ansible_user=root
ansible_ssh_private_key_file={self.ssh}/id
ansible_python_interpreter=/usr/bin/python3
{variables}
""")
        return path

    def plans(self):
        for log in glob.glob(f"{self.work}/plan-*.log"):   # each plan from its first line again
            os.remove(log)
        write(f"{self.work}/plan-solo", scores(CALLS))
        # The guests' runs last two seconds or more, so that two run together
        # overlap in their times, which have whole seconds.
        for host in ("shared-a", "shared-b"):
            write(f"{self.work}/plan-{host}", scores(CALLS, "idle "))
        write(f"{self.work}/plan-broken", "error out of memory\n")
        write(f"{self.work}/plan-slow", "hang\n")

    def playbook(self, name, inventory, arguments_as_text=False):
        """Runs it, keeps its output in name.log and fails the test if the
        playbook passed: every run here has a failure."""
        w = self.work
        settings = {"ptrun_binary": PTRUN, "ptrun_local": PTRUN, "ptrun_remote_dir": f"{w}/remote",
                    "ptrun_results_dir": f"{w}/results", "ptrun_poll": 1,
                    "ptrun_environment": {"PT_STAND_IN_PLAN": w + "/plan-{{ inventory_hostname }}", "TMPDIR": w,
                                          "PT_FLEET_RUN": w}}
        if not arguments_as_text:
            settings["ptrun_arguments"] = ["--copies", "1,all", "--runs", "1", "--pt", STAND_IN]
        log = f"{w}/{name}.log"
        argv = ["ansible-playbook", "-i", inventory, PLAYBOOK, "-e", json.dumps(settings)]
        with process(argv, log, self.env, grace=3) as playbook:
            status = playbook.wait()
        say(text_of(log), end="")
        check(status != 0, f"{name}: the playbook passed although a host failed")
        return text_of(log)


def check_first_run(run_dir):
    merged = load(run_dir + "/merged.json")
    hosts = sorted(h["id"] for h in merged["hosts"])
    check(hosts == ["broken", "shared-a", "shared-b", "solo"], f"run 1: hosts {hosts}")
    for host in ("shared-a", "shared-b", "solo"):
        runs = [r for r in merged["runs"] if r["host"] == host]
        check(len(runs) == CALLS and all(r["score"] is not None for r in runs), f"run 1: {host}: {len(runs)} runs")
    broken = [r for r in merged["runs"] if r["host"] == "broken"]
    check(len(broken) == 1 and broken[0]["score"] is None and "out of memory" in broken[0]["error"],
          f"run 1: broken: {broken}")
    check(merged["outcome"] == "failed", "run 1: " + merged["outcome"])
    # The guests of one machine never ran at the same time.
    times = sorted((c["started_utc"], c["ended_utc"], c["host"]) for c in merged["calls"]
                   if c["host"].startswith("shared"))
    check(all(start < end for start, end, _ in times), f"a guest's run took under 2 s: overlaps would not show {times}")
    check(times[0][1] <= times[1][0], f"the guests of one machine ran at the same time: {times}")
    page = text_of(run_dir + "/report.html")
    # A host's name is one unbreakable figure on the page: a name with a hyphen comes in a span of its own.
    headed = [host for host in ("broken", "shared-a") if re.search(rf"Host (<span[^>]*>)?{host}<", page)]
    check(page.count("<svg") >= 4 and len(headed) == 2,
          f"run 1: the HTML report: {page.count('<svg')} charts, sections of {headed}")
    say("run 1:", len(merged["runs"]), "runs of hosts", ", ".join(hosts), "; guests one after the other:", times)


def check_second_run(first, second):
    def calls_of(run_dir):
        return {os.path.basename(p)[:-5]: load(p)["call_id"] for p in glob.glob(run_dir + "/*.json")
                if not p.endswith("/merged.json")}
    old, new = calls_of(first), calls_of(second)
    check(first != second and sorted(old) == ["broken", "shared-a", "shared-b", "solo"], f"run 1: {first} {old}")
    check(sorted(new) == ["broken", "gone", "shared-a", "shared-b", "slow", "solo"], f"run 2: {new}")
    check(not set(old.values()) & set(new.values()), "run 2 holds a file of run 1")
    for host, reason in (("gone", "unreachable"), ("shared-a", "unreachable"), ("shared-b", "unreachable"),
                         ("slow", "timed out")):
        check_stub(f"{second}/{host}.json", host, reason)
        check_listed(f"{second}/report.md", host, reason)
    merged = load(second + "/merged.json")
    check({r["host"] for r in merged["runs"]} == {"solo", "broken"} and merged["outcome"] == "failed",
          f"run 2: {merged['outcome']}")


def ansible(work, stack, ssh, namespaces):
    """The three rounds of the playbook; the sshd of host1 ends in between."""
    host1 = stack.enter_context(contextlib.ExitStack())
    if namespaces:
        addresses, ports = [f"{SUBNET}.{4 * i + 2}" for i in range(3)] + [f"{SUBNET}.10"], [22, 22, 22, 2]
        for i in range(3):   # nothing listens on port 2 of host2: gone
            namespace = stack.enter_context(network_namespace(namespaces, i))
            (host1 if i == 1 else stack).enter_context(sshd(ssh, f"host{i}", addresses[i], 22, namespace))
    else:
        addresses, ports = [f"127.0.0.{i + 2}" for i in range(4)], free_ports(4)
        for i in range(3):
            (host1 if i == 1 else stack).enter_context(sshd(ssh, f"host{i}", addresses[i], ports[i]))
    fleet = Fleet(work, ssh, addresses, ports)

    say("-- run 1: solo, shared-a and shared-b (one machine), broken")
    fleet.plans()
    log = fleet.playbook("run-1", fleet.inventory(f"{work}/inventory-1"))
    check("no complete run on broken (ptrun failed): see " in log, "run 1: no word of broken's failure")
    first = os.path.realpath(f"{work}/results/latest")
    check_first_run(first)

    say("-- run 2: the shared machine no longer answers, gone never did, slow's pt hangs past ptrun_timeout")
    host1.close()
    fleet.plans()
    log = fleet.playbook("run-2", fleet.inventory(f"{work}/inventory-2", fleet.host("gone", 3) + "\n" +
                                                  fleet.host("slow", 2, " ptrun_timeout=3")))
    check("no complete run on broken (ptrun failed), gone (unreachable), shared-a (unreachable),"
          " shared-b (unreachable), slow (timed out)" in log,
          "run 2: the hosts without results are not named with their reasons")
    check_second_run(first, os.path.realpath(f"{work}/results/latest"))

    say("-- ptrun_arguments as text, as an INI inventory keeps a YAML list")
    log = fleet.playbook("text", fleet.inventory(f"{work}/inventory-3", "",
                                                 'ptrun_arguments=[--copies, "1", --runs, "1"]'), True)
    check("ptrun_arguments of solo is not a list (an INI inventory keeps" in log,
          "no clear word on ptrun_arguments given as text")
    check("ptrun_arguments=['--copies', '1,all', '--runs', '5'];" in log, "no word on what to write")
    check(len(glob.glob(f"{work}/results/run-*")) == 2, "a run began despite ptrun_arguments as text")


def check_real(status, out):
    check(status == 0, "the real pt's job failed")
    merged = load(out + "/merged.json")
    check(merged["outcome"] == "completed" and [h["id"] for h in merged["hosts"]] == ["ptnode1"],
          f"real pt: {merged['hosts']}")
    check(merged["builds"][0]["validated"] is True, f"real pt: {merged['builds'][0]['validation']}")
    check(len(merged["runs"]) == 1 and merged["runs"][0]["score"] > 0, f"real pt: {merged['runs']}")
    say("real pt:", merged["citation"])


def version(package):
    return run("dpkg-query", "-W", "-f", "${Version}", package)


def load_average():
    return " ".join(text_of("/proc/loadavg").split()[:3])


def fleet(work):
    say(f"engines: slurm-wlm {version('slurmd')}, munge {version('munge')}, ansible-core {version('ansible-core')},",
        f"openssh-server {version('openssh-server')}; load average {load_average()}")
    prefix = f"ptfleet-{os.getpid()}"
    with contextlib.ExitStack() as stack:
        say("== Slurm")
        ssh = stack.enter_context(ssh_keys(work))
        if namespaces_possible(prefix):
            say(f"hosts: network namespaces of this test, in {SUBNET}.0/27")
            node2 = stack.enter_context(network_namespace(prefix, 3))
            socket = stack.enter_context(munge(work))
            nodes = [("ptnode1", f"{SUBNET}.13", None), ("ptnode2", f"{SUBNET}.14", node2)]
        else:
            say("hosts: network namespaces cannot be made here: one Slurm node, several sshd on loopback addresses")
            socket = stack.enter_context(munge(work))
            nodes = [("ptnode1", "127.0.0.1", None)]
        env = stack.enter_context(slurm(work, socket, nodes))
        say(run("sinfo", env=env), end="")
        cluster = Slurm(work, env, stack)
        slurm_stand_in(cluster, work, [name for name, _, _ in nodes])

        say("-- the real pt, validated, one run (in the background while Ansible is tried)")
        real = cluster.submit("real", SBATCH, ["--nodes=1"], ["--copies", "1", "--runs", "1"],
                              dict(env, PTRUN=PTRUN, TMPDIR=work))

        say("== Ansible over SSH")
        ansible(work, stack, ssh, prefix if len(nodes) > 1 else None)

        say("== the real pt under Slurm")
        check_real(*cluster.finish("real", real))


def main():
    began = time.monotonic()
    try:
        with fleet_run() as work:
            fleet(work)
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr, flush=True)
        return 1
    except Stopped as stopped:
        print(f"stopped by {stopped}: everything the test started is ended", file=sys.stderr, flush=True)
        return 128 + stopped.signum
    say(f"== fleet recipes passed in {time.monotonic() - began:.0f} s (load average now: {load_average()})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

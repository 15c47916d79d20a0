#!/usr/bin/env bash
# The fleet recipes of contrib/ on real Slurm and Ansible over SSH: installs
# the engines, builds pt, ptrun and the test suite's stand-in pt, and runs
# scripts/test_fleet.py (as root), which starts the engines and ends them.
set -euo pipefail
cd "$(dirname "$0")/.."
engines=(python3 ansible-core openssh-server openssh-client slurmctld slurmd slurm-client munge iproute2 util-linux
         procps)
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
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target pt ptrun pt_stand_in ptverify
exec python3 scripts/test_fleet.py

#!/bin/bash
# ptrun once a night on this host, every night's results file kept, then
# `ptrun history` over all of them: the job fails when a series' newest
# change slows it by more than PTRUN_FAIL_ABOVE percent, naming the night
# and what changed with it, and history.html charts every series.
#
#   ptrun-nightly.sh                          # --copies 1,all --runs 5
#   ptrun-nightly.sh --copies 1 --runs 9 --pt /opt/pt/bin/pt
#   crontab: 15 2 * * * /usr/share/doc/pt/examples/nightly/ptrun-nightly.sh
#
# Environment, with its defaults:
#   PTRUN              ptrun                    the ptrun to run
#   PTRUN_RESULTS_DIR  $HOME/ptrun-nightly      results/ (the nights' files), logs/, history.html
#   PTRUN_FAIL_ABOVE   3                        the gate, in percent
#   PTRUN_LABEL        the hostname             this host's name in the results: its series' name
# Exit status: ptrun history's (1 gate failed, 2 bad input), else the run's.
set -euo pipefail

ptrun=${PTRUN:-ptrun}
dir=${PTRUN_RESULTS_DIR:-$HOME/ptrun-nightly}
fail_above=${PTRUN_FAIL_ABOVE:-3}
label=${PTRUN_LABEL:-$(hostname)}
[ "$#" -gt 0 ] || set -- --copies 1,all --runs 5
# What ptrun prints goes to logs/, beside the results rather than among
# them, so that history reads results files only.
mkdir -p "$dir/results" "$dir/logs"
# A second call within the same second does not replace the first's file.
night=$label-$(date -u +%Y%m%dT%H%M%SZ)
while [ -e "$dir/results/$night.json" ]; do night+=+; done

# A failed run still writes its file, and history reads what there is.
run_status=0
"$ptrun" --label "$label" --json "$dir/results/$night.json" "$@" >"$dir/logs/$night.log" 2>&1 ||
    run_status=$?

"$ptrun" history --format html -o "$dir/history.html" "$dir/results" 2>/dev/null || true
history_status=0
"$ptrun" history --format table --fail-above "$fail_above" "$dir/results" || history_status=$?
if [ "$history_status" -ne 0 ]; then exit "$history_status"; fi
exit "$run_status"

#!/bin/bash
# ptrun once a night on this host, every night's results file kept, then
# `ptrun history` over all of them: the job fails when a series' newest
# level is slower than its baseline by more than PTRUN_FAIL_ABOVE percent,
# naming the night and what changed, and history.html charts every series.
# Any other failure (ptrun failed, a file that could not be written, a full
# disk) fails the night too, with its message on standard error.
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
# Exit status: ptrun history's gate (1) or bad input (2), else 2 when
# history.html could not be written, else the run's.
set -euo pipefail

ptrun=${PTRUN:-ptrun}
dir=${PTRUN_RESULTS_DIR:-$HOME/ptrun-nightly}
fail_above=${PTRUN_FAIL_ABOVE:-3}
label=${PTRUN_LABEL:-$(hostname)}
[ "$#" -gt 0 ] || set -- --copies 1,all --runs 5
say() { echo "ptrun-nightly: $*" >&2; }

# What ptrun prints goes to logs/, beside the results rather than among
# them, so that history reads results files only.
mkdir -p "$dir/results" "$dir/logs" || { say "cannot make $dir/results and $dir/logs"; exit 2; }
# mktemp makes the file or fails, never takes one that is there: two nights
# started in the same second (or by two cron lines) get two files.
results=$(mktemp "$dir/results/$label-$(date -u +%Y%m%dT%H%M%SZ)-XXXXXX.json") ||
    { say "cannot make a results file in $dir/results"; exit 2; }
night=$(basename "$results" .json)
log=$dir/logs/$night.log

# A failed run still writes its file where it can, and history reads what there is.
run_status=0
"$ptrun" --label "$label" --json "$results" "$@" >"$log" 2>&1 || run_status=$?
if [ "$run_status" -ne 0 ]; then
    say "ptrun failed (exit status $run_status); the end of $log:"
    tail -n 20 "$log" >&2 || say "(the log cannot be read)"
    # The empty file mktemp made is no night's results.
    [ -s "$results" ] || rm -f "$results"
fi

# The page first, so that it is there on the night the gate fails.
page_status=0
page_messages=$("$ptrun" history --format html -o "$dir/history.html" "$dir/results" 2>&1 >/dev/null) ||
    page_status=$?
if [ "$page_status" -ne 0 ]; then
    say "$dir/history.html not written:"
    printf '%s\n' "$page_messages" >&2
fi

history_status=0
"$ptrun" history --format table --fail-above "$fail_above" "$dir/results" || history_status=$?
if [ "$history_status" -ne 0 ]; then exit "$history_status"; fi
if [ "$page_status" -ne 0 ]; then exit 2; fi
exit "$run_status"

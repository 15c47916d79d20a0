#!/usr/bin/env bash
# The Windows programs: cross-builds pt.exe, ptverify.exe and ptrun.exe for
# 32-bit Windows (preset windows) and for 64-bit Windows (windows64), with
# their test programs, packs pt-<version>-win32.zip and -win64.zip, and checks:
#   - without Wine: the 32-bit pt.exe and ptverify.exe import only the
#     system's own DLLs and no GetTickCount64, and no program of either build
#     imports a DLL the system lacks; each zip holds its eight files, texts in
#     CRLF;
#   - under Wine, in one prefix made once per run (while the 32-bit build
#     compiles), each program as soon as it is built, side by side (the
#     32-bit ones while the 64-bit build compiles):
#     - the core test suites and the Windows platform suites (pt_tests.exe,
#       with the real dialog on a private X server, and the version resource
#       and the manifest read back from pt.exe);
#     - ptverify.exe of both builds, whose digests must equal the Linux build's;
#     - one unattended pt.exe run started by a parent program that waits for
#       the posted notification (pt_parent_test.exe), then the output and
#       result files;
#     - a usage error: exit code 255 and the usage text in "Error";
#     - ptrun's portable suites and its Windows system layer (ptrun_tests.exe);
#     - the 32-bit ptrun.exe --runs 2 --json of the 32-bit pt.exe, each
#       run's processor and the machine's cores recorded;
#       an interleaved call of two 64-bit builds, then compare, report
#       --format html and history of what both calls wrote; the first file
#       merged on Linux with a Linux host's, and on Windows the other way round;
#     - Ctrl-C ending a ptrun.exe call: exit code 130, what finished kept,
#       no pt.exe left running; a hang-up, which Wine answers by ending
#       ptrun.exe at once: no pt.exe left running either.
#     Where the kernel runs no 32-bit x86 code, every 32-bit Wine process runs
#     in a user-mode emulator, given less address space so that it starts in
#     seconds rather than a minute (below).
# The test programs are built once, each in the build whose checks need it:
# the core suites in the 32-bit build (pt.exe as the system defines it),
# ptrun's in the 64-bit one (where ptrun.exe runs its copies in the checks);
# both at -O1 and a few suites to a source, and ptrun's library a dozen
# sources to one, since every CI run builds them anew. pt_core, pt.exe and
# ptverify.exe keep their own flags, and their digests are checked.
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# ---- Packages ---------------------------------------------------------------
# Wine's 32-bit side comes from Debian's i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    # install-deps.sh below updates the lists for the new architecture.
    $sudo dpkg --add-architecture i386
fi
bash scripts/install-deps.sh cmake ninja-build python3 googletest g++-mingw-w64-i686-win32 \
    g++-mingw-w64-x86-64-win32 nlohmann-json3-dev groff-base
# Wine's 32-bit side needs the i386 lists to match the amd64 ones: a mirror
# caught mid-sync can leave it uninstallable for a while. Then the programs
# are still built and checked without Wine, and the stage says loudly that
# they did not run.
wine_ok=1
bash scripts/install-deps.sh wine wine32:i386 wine64 xvfb || wine_ok=0

build=$root/build/windows
work=$build/wine-run
xvfb_pid=""
prefix_pid=""
mkdir -p "$work"
if [ "$wine_ok" = 1 ]; then
# Wine runs 32-bit programs with its 32-bit Linux loader. Some kernels run no
# 32-bit Linux code at all; there the loader runs in Debian's user-mode
# emulator, registered for 32-bit x86 programs.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "This kernel runs no 32-bit x86 programs: using the user-mode emulator for Wine's loader."
    if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends qemu-user-static
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/qemu-i386" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $sudo tee "$binfmt/register" >/dev/null
    fi
    /usr/lib/wine/wine --version >/dev/null
fi
# The emulator (7.2) gives a 32-bit program all 4 GB, and looks for room for
# every mapping page by page down from the top, through the 2 GB above
# 0x80000000 that Wine keeps from a Windows program: about a minute of
# processor time for each Wine process to start. Wine needs only the shared
# page at 0x7ffe0000 and some memory above 2 GB: with 8 MB there a process
# starts in 3 seconds, and the programs see the same 2 GB as before.
export QEMU_RESERVED_VA=0x80800000

# ---- Wine session ---------------------------------------------------------------
# Started first: a fresh prefix takes tens of seconds (its 32-bit half in the
# emulator), so it is made while the 32-bit build compiles. One server and one
# X server serve the whole run, and the services the prefix set-up starts stay
# up for the programs below instead of being stopped and started again.
build=$root/build/windows
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, no debugger for a crashing program, and
# no desktop menu entries made for the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

work=$build/wine-run
rm -rf "$work"
mkdir -p "$work"
xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A private X server. Every program below gets it: the first GUI program of
# a prefix starts Wine's desktop process, and a desktop started without a
# display cannot create any window afterwards.
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 >"$work/xvfb.log" 2>&1 3>"$work/display" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$WINEPREFIX"
wineserver -p   # one server for everything below, until the end of the script
prefix_pid=""
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== wine prefix (made in the background)"
    # The 64-bit side sets the prefix up natively; 32-bit programs run in it
    # as on 64-bit Windows.
    /usr/lib/wine/wine64 wineboot -i >"$work/wineboot.log" 2>&1 &
    prefix_pid=$!
fi

fi

# ---- Build, and under Wine each program as soon as it is built -----------------
# The 32-bit build first, with its test programs (so that both processors
# stay busy to its end): its checks, most of them in the emulator, and the
# 40-second runs of pt.exe (which take their time however busy the machine
# is) run while the 64-bit build compiles; the 64-bit programs' checks while
# ptrun's suites compile. Each program's output goes to NAME.out and NAME.err
# in the run folder and its exit code to NAME.rc; what they wrote is checked
# once all have ended.
build64=$root/build/windows64
# 64-bit programs go straight to Wine's 64-bit loader, which the kernel runs
# itself (the wine command would start its 32-bit loader first).
wine64=/usr/lib/wine/wine64
loader=wine
pids=()
run() {  # run NAME PROGRAM ARGS...: under Wine in the background (without Wine: nothing)
    [ "$wine_ok" = 1 ] || return 0
    local name=$1
    shift
    (set +e; cd "$work"; $loader "$@" >"$name.out" 2>"$name.err"; echo $? >"$name.rc") &
    pids+=($!)
}
programs() {  # programs PRESET [TARGETS]: a configured build's programs, its zip, and TARGETS
    cmake --build --preset "$1" -j "$(nproc)" --target all "${@:2}"
    rm -f "$root/build/$1"/pt-*-win*.zip
    cpack --preset "$1" >/dev/null
}
# ptrun.exe's calls of the 64-bit programs: two builds interleaved, and
# beside it Ctrl-C and a hang-up ending a call. Each call's exit code goes to
# NAME.rc.
ptrun_calls() {
    set +e
    cd "$work"
    local ptrun=$build64/ptrun/ptrun.exe
    # Two builds: the 64-bit programs as unpacked from the zip, twice.
    for b in a b; do
        mkdir -p "$work/build-$b"
        python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
            "$(ls "$build64"/pt-*-win64.zip)" "$work/build-$b"
    done
    # Its time, and the processor time ptrun.exe itself takes (its own
    # process, read from /proc while it runs: the copies are processes of
    # their own).
    local start=$EPOCHREALTIME ticks=0 now
    $wine64 "$work/build-a/ptrun.exe" --pt "$work/build-a/pt.exe" --pt "$work/build-b/pt.exe" --runs 1 \
        --cpus "$(($(nproc) - 1))" --no-profile --label windows-host --json pair.json >pair.out 2>pair.err &
    local pair=$!
    # Ctrl-C (SIGINT, which Wine hands the console's handler as Ctrl-C) while
    # a copy runs; then nothing of the call may be left. Then a hang-up, what
    # a closing terminal sends: Wine ends ptrun.exe at once without calling its
    # console handler (docs/windows.md), and the copy must end with the job
    # object whose last handle went with ptrun.exe. The copies are the build
    # tree's pt.exe, so they are told from those of the other calls.
    (end_a_call INT stopped --runs 3 --no-profile --json stopped.json
     end_a_call HUP hangup --runs 3 --no-profile) &
    while now=$(sed 's/.*) //' "/proc/$pair/stat" 2>/dev/null | awk '{print $12 + $13}'); do
        ticks=${now:-$ticks}
        sleep 0.2
    done
    wait $pair
    echo $? >pair.rc
    echo "$start $EPOCHREALTIME $ticks $(getconf CLK_TCK)" >pair.seconds
    wait
}
# end_a_call SIGNAL NAME ARGS...: a ptrun.exe call of the build tree's pt.exe
# sent SIGNAL once its first copy runs; its exit code in NAME.rc, and in
# NAME.left any copy still running, or that none was seen running at all.
# The call starts with SIGNAL at its default: a stage started under nohup (or
# a background job's ignored SIGINT) would hand it on ignored, and a program
# rightly keeps a hang-up its caller ignored.
end_a_call() {
    local signal=$1 name=$2 copy='windows64.src.pt\.exe b0-'
    shift 2
    python3 -c 'import os, signal, sys
signal.signal(getattr(signal, "SIG" + sys.argv[1]), signal.SIG_DFL)
os.execv(sys.argv[2], sys.argv[2:])' "$signal" "$wine64" "$ptrun" --pt "$build64/src/pt.exe" "$@" \
        >"$name.out" 2>"$name.err" &
    local call=$!
    local seen=0
    for _ in $(seq 600); do
        pgrep -f "$copy" >/dev/null && { seen=1; break; }
        sleep 0.1
    done
    sleep 2
    kill "-$signal" "$call"
    wait "$call"
    echo $? >"$name.rc"
    sleep 1
    pgrep -af "$copy" >"$name.left"
    [ "$seen" = 1 ] || echo "(no copy of the call was ever seen running)" >>"$name.left"
}

echo "== windows builds and packages; under Wine, each build's programs as soon as they are made"
# Configuring takes one processor for a while: both at once.
cmake --preset windows64 >"$work/configure-windows64.log" 2>&1 &
configure64=$!
cmake --preset windows >/dev/null
programs windows pt_tests pt_parent_test
if [ -n "$prefix_pid" ]; then
    wait "$prefix_pid" || { cat "$work/wineboot.log"; exit 1; }
fi
[ "$wine_ok" != 1 ] || echo "-- the 32-bit programs under Wine, from ${SECONDS} s into the stage"
run version "$build/tools/ptverify.exe" --version
run digests "$build/tools/ptverify.exe" --units 3 --runs 2
run usage "$build/src/pt.exe" usage.ini /test=10
# The 32-bit ptrun.exe's call, of the 32-bit pt.exe as the win32 zip holds it.
run runs2 "$build/ptrun/ptrun.exe" --pt "$build/src/pt.exe" --runs 2 --cpus 0 --json runs2.json --label windows-host
# The resource suites read the version and the manifest from pt.exe itself.
PT_EXE="Z:${build//\//\\}\\src\\pt.exe" PT_SKIP_DEATH_TESTS=1 run tests "$build/tests/pt_tests.exe"
run parent "$build/tests/pt_parent_test.exe" "$build/src/pt.exe" r.ini /o=log.txt

wait "$configure64" || { cat "$work/configure-windows64.log"; exit 1; }
programs windows64
loader=$wine64
if [ "$wine_ok" = 1 ]; then
    echo "-- the 64-bit programs under Wine, from ${SECONDS} s into the stage"
    ptrun_calls >"$work/ptrun-calls.log" 2>&1 &
    pids+=($!)
fi
run digests64 "$build64/tools/ptverify.exe" --units 3 --runs 2
cmake --build --preset windows64 -j "$(nproc)" --target ptrun_tests
# Left out: the nightly recipe is a bash script, and the history test looks
# for "a/notes.txt" where Windows lists the folder's file as "a\notes.txt".
not_here=PtrunHistory.TheNightlyRecipeKeepsEveryNightAndFailsWithTheGate
not_here+=:PtrunHistory.ReadsFoldersGatesOnTheNewestChangeAndNamesItsCause
run ptrun-tests "$build64/tests/ptrun_tests.exe" --gtest_filter=-$not_here

# The Linux programs to compare and merge with (the main stage has built them already).
if [ ! -x build/release/tools/ptverify ] || [ ! -x build/release/ptrun/ptrun ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" --target ptverify ptrun
fi

failed=0
fail() { echo "FAILED: $*"; failed=1; }

# ---- Without Wine: what the programs import, and the zip ------------------------
echo "-- imports of pt.exe and ptverify.exe"
for exe in src/pt.exe tools/ptverify.exe; do
    i686-w64-mingw32-objdump -p "$build/$exe" >"$work/imports.txt"
    dlls=$(awk '/DLL Name:/ {print $3}' "$work/imports.txt" | sort | tr '\n' ' ')
    echo "$exe: $dlls"
    # The system's own DLLs only: no threads library, no runtime DLL.
    for dll in $dlls; do
        case "$dll" in KERNEL32.dll | USER32.dll | msvcrt.dll) ;; *) fail "$exe imports $dll" ;; esac
    done
    ! grep -qw GetTickCount64 "$work/imports.txt" || fail "$exe imports GetTickCount64, which Windows XP lacks"
done

echo "-- the system DLLs only, in every program of both builds"
for exe in "$build"/src/pt.exe "$build"/tools/ptverify.exe "$build"/ptrun/ptrun.exe \
           "$build64"/src/pt.exe "$build64"/tools/ptverify.exe "$build64"/ptrun/ptrun.exe; do
    objdump=x86_64-w64-mingw32-objdump
    [[ "$exe" == "$build64"/* ]] || objdump=i686-w64-mingw32-objdump
    dlls=$($objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
    echo "${exe#"$root"/build/}: $dlls"
    for dll in $dlls; do
        case "${dll,,}" in kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | bcrypt.dll | powrprof.dll) ;;
            *) fail "$exe imports $dll, which is no part of Windows" ;; esac
    done
done

echo "-- the zips"
for zip in "$build"/pt-*-win32.zip "$build64"/pt-*-win64.zip; do
python3 - "$zip" <<'PY' || fail "$(basename "$zip") is not what a Windows user should get"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    print(sys.argv[1].rsplit("/", 1)[-1] + ": " + " ".join(names))
    assert names == ["LICENSE.txt", "README.txt", "pt.exe", "pt.txt", "ptrun.exe", "ptrun.txt", "ptverify.exe",
                     "ptverify.txt"], names
    for text in ("LICENSE.txt", "README.txt", "pt.txt", "ptrun.txt", "ptverify.txt"):
        data = z.read(text)
        assert data.count(b"\n") == data.count(b"\r\n") > 0, text + " has lines without CRLF"
        assert b"\x08" not in data and b"\x1b" not in data, text + " holds terminal escapes"
    assert b"ptrun.exe" in z.read("README.txt"), "README.txt says nothing of ptrun.exe"
PY
done

if [ "$wine_ok" != 1 ]; then
    [ "$failed" = 0 ] || { echo "== windows: some checks failed"; exit 1; }
    echo "== windows: built and checked without Wine; NOT run under Wine: its packages could not be installed (above)"
    exit 0
fi
echo "-- waiting for the programs under Wine, ${SECONDS} s into the stage"
cd "$work"
wait "${pids[@]}"
# What ptrun.exe's other commands make of the two calls' files.
pids=()
run compare "$build64/ptrun/ptrun.exe" compare pair.json
run report "$build64/ptrun/ptrun.exe" report --format html -o pair.html pair.json runs2.json
run history "$build64/ptrun/ptrun.exe" history --format json runs2.json pair.json
wait "${pids[@]}"

echo "-- all programs ended, ${SECONDS} s into the stage"
echo "-- pt_tests.exe"
tail -n 5 tests.out
[ "$(cat tests.rc)" = 0 ] || { cat tests.out tests.err; fail "pt_tests.exe exited with $(cat tests.rc)"; }

echo "-- ptverify.exe --units 3 --runs 2"
"$root/build/release/tools/ptverify" --units 3 --runs 2 >digests-linux.txt
[ "$(cat digests.rc)" = 0 ] || fail "ptverify.exe exited with $(cat digests.rc): $(cat digests.err)"
# The Windows C runtime ends printed lines with CRLF.
tr -d '\r' <digests.out >digests.txt
if diff -u digests-linux.txt digests.txt; then
    echo "digests identical to the Linux build's"
else
    fail "digests differ"
fi

echo "-- ptverify.exe --version"
cat version.out
grep -qE '^ptverify version [0-9.]+ for i686-w64-mingw32, built by GCC ' version.out ||
    fail "ptverify.exe --version does not say how it was built"

echo "-- pt.exe r.ini /o=log.txt, started by a parent that waits for its message"
cat parent.out parent.err
[ "$(cat parent.rc)" = 0 ] || fail "pt_parent_test.exe exited with $(cat parent.rc)"
tr -d '\r' <log.txt >log-lf.txt
cat log-lf.txt
for line in "Quillstone (TM) 99 Version 1.0" "32-bit Version" "Will run: All modules" "GOINTERN= 0" "CHKLIMIT = 10"; do
    grep -qxF "$line" log-lf.txt || fail "log.txt lacks the line \"$line\""
done
grep -qE '^Score = [0-9.e+]+ $' log-lf.txt || fail "log.txt lacks the score line"
grep -qE '^ITERS = [0-9]+$' log-lf.txt || fail "log.txt lacks the ITERS line"
tr -d '\r' <r.ini >r-lf.ini
cat r-lf.ini
grep -qE '^Result=[0-9.e+]+ $' r-lf.ini || fail "r.ini holds no Result"
! grep -qE '^(Error|Note)=' r-lf.ini || fail "r.ini still holds Error or Note"

echo "-- pt.exe usage.ini /test=10"
[ "$(cat usage.rc)" = 255 ] || fail "a usage error exited with $(cat usage.rc), not 255"
tr -d '\r' <usage.ini >usage-lf.ini
cat usage-lf.ini
grep -qF 'Error=Usage: pt [/o=outfilename] [/test=module] [/break]\n\nWhere:\n' usage-lf.ini ||
    fail "usage.ini lacks the usage text in Error"
[ "$(grep -c . usage-lf.ini)" = 2 ] || fail "the usage text spilled over into more lines of usage.ini"

echo "-- ptrun_tests.exe (64-bit)"
tail -n 3 ptrun-tests.out
[ "$(cat ptrun-tests.rc)" = 0 ] ||
    { cat ptrun-tests.out ptrun-tests.err; fail "ptrun_tests.exe exited with $(cat ptrun-tests.rc)"; }

echo "-- ptverify.exe --units 3 --runs 2 (64-bit)"
tr -d '\r' <digests64.out >digests64.txt
if [ "$(cat digests64.rc)" = 0 ] && diff -u digests-linux.txt digests64.txt; then
    echo "digests identical to the Linux build's"
else
    fail "the 64-bit ptverify.exe's digests differ (exit code $(cat digests64.rc))"
fi

echo "-- ptrun.exe"
cat ptrun-calls.log
for call in runs2 pair compare report history; do
    [ "$(cat $call.rc)" = 0 ] || { cat $call.err; fail "ptrun.exe ($call) exited with $(cat $call.rc)"; }
done
python3 - <<'PY' || fail "ptrun.exe's results are not what they should be"
import json
runs2 = json.load(open("runs2.json"))
machine = runs2["machine"]
print("machine:", json.dumps({k: machine[k] for k in ("processor", "processors_online", "processors_physical", "kernel",
                                                      "memory_bytes", "governor")}))
print("environment:", json.dumps({k: machine["environment"][k] for k in ("smt", "hypervisor")}))
assert machine["kernel"].startswith("Windows "), machine["kernel"]
assert machine["processors_online"] >= 1 and machine["memory_bytes"] > 0
assert 1 <= machine["processors_physical"] <= machine["processors_online"], "no cores counted"
runs = runs2["runs"]
assert len(runs) == 2 and all(r["score"] > 0 for r in runs), runs
assert all(isinstance(r["cpu"], int) and r["cpu"] >= 0 for r in runs), "a run without its processor"
print("runs:", [(r["round"], r["cpu"], r["score"], r["share"]) for r in runs])
assert all(b["validated"] for b in runs2["builds"]), runs2["builds"]
pair = json.load(open("pair.json"))
assert [b["id"] for b in pair["builds"]] == ["A", "B"] and len(pair["runs"]) == 2
assert {r["build"] for r in pair["runs"]} == {"A", "B"}
# What ptrun.exe adds to its rounds: the call's time beyond its copies' own
# (validating both builds included, as on Linux).
start, end, ticks, per_second = map(float, open("pair.seconds").read().split())
copies = sum(r["wall_s"] for r in pair["runs"])
own = ticks / per_second
print(f"ptrun.exe call of two builds: {end - start:.1f} s, its copies {copies:.1f} s: "
      f"{100 * (end - start - copies) / copies:.1f} % beyond them (validation and Wine's process starts included);\n"
      f"ptrun.exe's own processor time {own:.2f} s, {100 * own / copies:.2f} % of the copies' time")
compare = open("compare.out").read().replace("\r", "")
print("compare:", compare.strip().splitlines()[0] if compare.strip() else "(nothing)")
assert "B" in compare and "A" in compare, compare
assert "<svg" in open("pair.html").read()
json.loads(open("history.out").read())
PY

echo "-- a results file written on Windows, merged on Linux with a Linux host's, and on Windows the other way"
python3 "$root/scripts/fleet-results.py" linux-host 1 4 >/dev/null
"$root/build/release/ptrun/ptrun" merge runs2.json linux-host/*.json -o merged-on-linux.json ||
    fail "Linux's ptrun cannot merge a results file written on Windows"
cp linux-host/*.json linux.json
$wine64 "$build64/ptrun/ptrun.exe" merge linux.json runs2.json -o merged-on-windows.json >/dev/null ||
    fail "ptrun.exe cannot merge a results file written on Linux"
python3 - <<'PY' || fail "the merged files do not hold both hosts"
import json
for name in ("merged-on-linux.json", "merged-on-windows.json"):
    merged = json.load(open(name))
    kernels = sorted(h["machine"]["kernel"].split()[0] for h in merged["hosts"])
    print(name + ":", len(merged["hosts"]), "hosts,", len(merged["runs"]), "runs, kernels", kernels)
    assert kernels == ["Linux", "Windows"], kernels
PY
"$root/build/release/ptrun/ptrun" report --format md merged-on-linux.json >/dev/null ||
    fail "Linux's ptrun cannot report the merged file"

echo "-- Ctrl-C ending a ptrun.exe call"
cat stopped.err | tr -d '\r' | tail -n 3
[ "$(cat stopped.rc)" = 130 ] || fail "ptrun.exe ended by Ctrl-C exited with $(cat stopped.rc), not 130"
grep -q "interrupted; every copy has been ended" stopped.err || fail "ptrun.exe did not say it was interrupted"
python3 -c 'import json; assert json.load(open("stopped.json"))["outcome"] == "interrupted"' ||
    fail "the interrupted call's results were not written"
[ ! -s stopped.left ] || { cat stopped.left; fail "a pt.exe copy outlived the call Ctrl-C ended (or never ran)"; }

echo "-- a hang-up ending a ptrun.exe call (Wine ends it without calling its handler)"
[ "$(cat hangup.rc)" = 129 ] || fail "ptrun.exe ended by a hang-up exited with $(cat hangup.rc), not 129"
[ ! -s hangup.left ] || { cat hangup.left; fail "a pt.exe copy outlived the ptrun.exe a hang-up ended (or never ran)"; }

if [ "$failed" = 0 ]; then
    echo "== windows: all checks passed"
else
    echo "== windows: some checks failed"
    exit 1
fi

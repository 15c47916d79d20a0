#!/usr/bin/env bash
# The Windows program: cross-builds pt.exe, ptverify.exe and the Windows test
# programs for 32-bit Windows, packs pt-<version>-win32.zip, and checks:
#   - without Wine: pt.exe and ptverify.exe import only the system's own DLLs
#     and no GetTickCount64; the zip holds the four files, texts in CRLF;
#   - under Wine, the programs side by side in one prefix made once per run
#     (while the programs compile):
#     - the core test suites and the Windows platform suites (pt_tests.exe,
#       with the real dialog on a private X server, and the version resource
#       and the manifest read back from pt.exe);
#     - ptverify.exe, whose digests must equal the Linux build's;
#     - one unattended pt.exe run started by a parent program that waits for
#       the posted notification (pt_parent_test.exe), then the output and
#       result files;
#     - a usage error: exit code 255 and the usage text in "Error".
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
bash scripts/install-deps.sh cmake ninja-build python3 googletest g++-mingw-w64-i686-win32
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

# ---- Wine session ---------------------------------------------------------------
# Started first: a fresh prefix takes minutes when Wine's 32-bit side runs in
# the emulator, so it is made while the programs compile. One server and one
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

# ---- Build --------------------------------------------------------------------
echo "== windows build and package"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
rm -f "$build"/pt-*-win32.zip
cpack --preset windows >/dev/null

# The Linux digests to compare with (the main stage has built them already).
if [ ! -x build/release/tools/ptverify ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" --target ptverify
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

echo "-- the zip"
zip=$(ls "$build"/pt-*-win32.zip)
python3 - "$zip" <<'PY' || fail "$(basename "$zip") is not what a Windows user should get"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    print(sys.argv[1].rsplit("/", 1)[-1] + ": " + " ".join(names))
    assert names == ["LICENSE.txt", "README.txt", "pt.exe", "ptverify.exe"], names
    for text in ("LICENSE.txt", "README.txt"):
        data = z.read(text)
        assert data.count(b"\n") == data.count(b"\r\n") > 0, text + " has lines without CRLF"
PY

if [ "$wine_ok" != 1 ]; then
    [ "$failed" = 0 ] || { echo "== windows: some checks failed"; exit 1; }
    echo "== windows: built and checked without Wine; NOT run under Wine: its packages could not be installed (above)"
    exit 0
fi
if [ -n "$prefix_pid" ]; then
    wait "$prefix_pid" || { cat "$work/wineboot.log"; exit 1; }
fi

echo "== under wine (the programs run side by side)"
cd "$work"
run() {  # run NAME PROGRAM ARGS...: NAME.out, NAME.err and the exit code in NAME.rc
    local name=$1
    shift
    (set +e; wine "$@" >"$name.out" 2>"$name.err"; echo $? >"$name.rc") &
    pids+=($!)
}
pids=()
# The resource suites read the version and the manifest from pt.exe itself.
PT_EXE="Z:${build//\//\\}\\src\\pt.exe" PT_SKIP_DEATH_TESTS=1 run tests "$build/tests/pt_tests.exe"
run digests "$build/tools/ptverify.exe" --units 3 --runs 2
run version "$build/tools/ptverify.exe" --version
run parent "$build/tests/pt_parent_test.exe" "$build/src/pt.exe" r.ini /o=log.txt
run usage "$build/src/pt.exe" usage.ini /test=10
wait "${pids[@]}"

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

if [ "$failed" = 0 ]; then
    echo "== windows: all checks passed"
else
    echo "== windows: some checks failed"
    exit 1
fi

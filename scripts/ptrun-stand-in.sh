# Sourced by the scripts that try ptrun's reports and fleet recipes: builds
# ptrun and the test suite's stand-in pt, installs the Debian packages named
# in $deps, and sets root, ptrun, stand_in and a work folder removed at exit.
bash scripts/install-deps.sh "${deps[@]}"
root=$(pwd)
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target ptrun pt_stand_in ptverify
ptrun=$root/build/release/ptrun/ptrun
stand_in=$root/build/release/tests/pt_stand_in
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

#!/usr/bin/env bash
# The Debian package, built as Debian builds it: from a copy of the tree in a
# temporary directory (dpkg-buildpackage writes beside the tree), with only
# the declared build dependencies added (mk-build-deps). Its suites are not
# built again (DEB_BUILD_OPTIONS=nocheck): the same sources passed them in the
# release and sanitizer builds, and the installed package is checked below.
# Then:
#   - lintian: no errors and no warnings (informational tags are listed);
#   - the version in debian/changelog is the project's, and debian/copyright
#     carries the licence text of LICENSE;
#   - the package installs with apt-get, its manual pages are found, and the
#     installed pt gives a result in one unattended run (about 40 seconds).
# The package is removed again if it was not installed before.
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
bash scripts/install-deps.sh dpkg-dev devscripts equivs lintian

# ---- Consistency ------------------------------------------------------------
version=$(sed -n 's/^project(pt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(dpkg-parsechangelog -S Version)
if [ "$changelog_version" != "$version" ]; then
    echo "debian/changelog is at $changelog_version, the project at $version" >&2
    exit 1
fi
for page in docs/pt.1 docs/ptverify.1 docs/ptrun.1; do
    grep -q "^\.TH .* \"pt $version\"" "$page" || { echo "$page is not at version $version" >&2; exit 1; }
done
diff -u <(sed -n '5,$p' LICENSE) \
        <(sed -n '/^License: Expat$/,$p' debian/copyright | sed '1,/^License: Expat$/d; s/^ //; s/^\.$//')

# ---- Build ------------------------------------------------------------------
work=$(mktemp -d)
installed_before=$(dpkg-query -W -f='${Status}' pt 2>/dev/null | grep -c 'install ok installed' || true)
cleanup() {
    cd "$root"
    rm -rf "$work"
    if [ "$installed_before" = 0 ] && dpkg-query -W -f='${Status}' pt 2>/dev/null | grep -q 'ok installed'; then
        $sudo apt-get purge -y -q pt >/dev/null
    fi
}
trap cleanup EXIT

echo "== package build in $work"
mkdir "$work/pt-$version"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/pt-$version" -xf -
cd "$work/pt-$version"
# The declared build dependencies, as a package that depends on them.
$sudo mk-build-deps --install --remove \
    --tool 'env DEBIAN_FRONTEND=noninteractive apt-get -y -q --no-install-recommends' debian/control
rm -f pt-build-deps_*
DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b -j"$(nproc)"
# The dependencies stay (the other CI stages use them); their stand-in goes.
$sudo apt-get purge -y -q pt-build-deps >/dev/null
deb=$(echo "$work"/pt_"${version}"_*.deb)
[ -f "$deb" ]
dpkg-deb --contents "$deb"

# ---- Installed --------------------------------------------------------------
# The installed pt's run takes its fixed 40 seconds: it goes on while lintian
# reads the package.
echo "== installed package"
cd "$work"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb"
/usr/bin/pt r.ini /o=log.txt &
pt_run=$!

echo "== lintian"
lintian --fail-on error,warning --display-info "$deb"

for page in pt ptverify ptrun; do
    man -w "$page" | grep -q "^/usr/share/man/man1/$page.1"
done
MANWIDTH=80 man pt 2>/dev/null | grep -q 'synthetic processor benchmark'
/usr/bin/ptverify --version
/usr/bin/ptverify --units 3 | grep -qx 'run 1 unit 3 86c37cb6405191b6'
wait "$pt_run"
cat log.txt
grep -q '^Result=[0-9.]* $' r.ini
echo "== package passed"

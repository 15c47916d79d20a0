#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing pt need, when
# they are missing; or, given package names, those. Needs root (or sudo) only
# when something is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build libgtest-dev libbenchmark-dev libx11-dev qt6-base-dev xvfb x11-utils
          nlohmann-json3-dev
          locales)
[ "$#" -eq 0 ] || packages=("$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# One update of the package lists serves every stage of a CI run: they are
# updated when this script has not done so in the last hour for the same
# architectures, and again if an install from them fails. A mirror caught
# mid-sync fails an index for a minute or so: the update is tried three
# times, then the install goes on with the lists there are (naming any
# package it then cannot find).
stamp=${TMPDIR:-/tmp}/pt-install-deps.lists
architectures="$(dpkg --print-architecture) $(dpkg --print-foreign-architectures | tr '\n' ' ')"
update_lists() {
    local attempts=$1
    for attempt in $(seq "$attempts"); do
        $sudo apt-get update -q && break
        if [ "$attempt" -ge "$attempts" ]; then
            echo "apt-get update failed: installing from the lists there are" >&2
            break
        fi
        sleep $((attempt * 20))
    done
    echo "$architectures" >"$stamp"
}
lists_fresh() {
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$architectures" ] && [ -n "$(find "$stamp" -mmin -60)" ]
}
install_missing() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    lists_fresh || update_lists 3
    install_missing || { update_lists 1 && install_missing; }
fi

# A locale with a decimal comma, for the tests that make sure numbers are
# still written with a point.
if [ "$#" -eq 0 ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $sudo locale-gen >/dev/null
fi

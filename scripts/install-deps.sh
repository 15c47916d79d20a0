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
if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    # A mirror caught mid-sync fails an index for a minute or so: try again,
    # then go on with the lists there are (the install names any package it
    # then cannot find).
    for attempt in 1 2 3; do
        $sudo apt-get update -q && break
        [ "$attempt" -lt 3 ] || { echo "apt-get update failed 3 times: installing from the lists there are" >&2; break; }
        sleep $((attempt * 20))
    done
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, for the tests that make sure numbers are
# still written with a point.
if [ "$#" -eq 0 ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $sudo locale-gen >/dev/null
fi

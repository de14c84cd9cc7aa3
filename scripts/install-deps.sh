#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when something is missing.
#   install-deps.sh test   what the test suite needs
#   install-deps.sh run    what building and opening the calculator needs
set -euo pipefail
what=${1:-test}

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev)
case "$what" in
    test) ;;
    run) ;;
    *) echo "usage: $0 test|run" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages brelo needs to build and test: the compiler,
# CMake, Ninja, GoogleTest, libpcap (packet traces), tshark (the trace
# tests), cpp-httplib (brelo-ctl view's web server), SQLite (brelo-ctl
# sweep's results database), Node.js with Chromium (the view page's browser
# test), and pandas with matplotlib for Debian's python3 (the analysis
# scripts and their test). Only missing packages are installed, so running
# it again does nothing. --ci adds what CI's sanitizer, fuzzing and
# benchmark runs use, and a one-node Slurm cluster (slurm-wlm, munge, the
# sqlite3 shell) for the sweep's cluster test.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libpcap-dev tshark libcpp-httplib-dev libsqlite3-dev
          nodejs chromium
          python3-pandas python3-matplotlib)
# Some Node.js builds bring npm inside the nodejs package; Debian's ship it apart.
command -v npm >/dev/null 2>&1 || packages+=(npm)
if [ "${1:-}" = "--ci" ]; then
  packages+=(libbenchmark-dev time clang libclang-rt-14-dev slurm-wlm munge sqlite3)
fi

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "scripts/setup.sh: not a Debian system; make sure these are installed: ${packages[*]}" >&2
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "scripts/setup.sh: installing ${missing[*]}" >&2
$sudo apt-get update -qq
# Non-interactive: tshark's installer would otherwise ask about capture rights.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"

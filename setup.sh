#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")"

# libzip-dev's CMake files refer to the zip tools, so configure needs them too.
# The tests start a private PostgreSQL server of their own (postgresql's
# initdb and postgres) and reach it through Qt's driver, libqt6sql6-psql.
# The monitor's web page is served by Qt's HTTP server, whose CMake files
# need the WebSockets module as well. The page's browser test drives headless
# Chromium through chromedriver from Python's Selenium.
packages="cmake ninja-build g++ pkg-config qt6-base-dev libzip-dev zipcmp zipmerge ziptool openarena-server
  postgresql libqt6sql6-psql qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver python3-selenium"
missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  # Only the package step needs root; the build stays with the calling user.
  as_root=""
  if [ "$(id -u)" -ne 0 ]; then
    as_root="sudo"
  fi
  $as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build

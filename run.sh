#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
glimmer_install_deps

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/glimmerbox ]; then
  exec build/glimmerbox "$@"
else
  # The main window is not built yet: show what the command-line tool does.
  exec build/glimmerbox-fx --help
fi

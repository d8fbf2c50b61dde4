#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite
# (widgets on Qt's offscreen platform, sound through private PulseAudio and
# PipeWire servers), then the Qt-free core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the WAVE fuzzer for about a minute.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
glimmer_install_deps

jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
# A sound test measures time against a real server: on a loaded machine one
# may miss by a few milliseconds, so a failed test gets one more run (and
# fails the suite if that fails too).
(cd build && ctest --output-on-failure -j "$jobs" --repeat until-pass:2)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DGLIMMER_CORE_ONLY=ON -DGLIMMER_SANITIZE=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

# The WAVE fuzzer, about a minute, on the seed corpus kept in the repository
# and every input that once crashed it. New inputs it finds go to
# build-fuzz/corpus; a crash is kept as build-fuzz/crash-* (copy it into
# tests/fuzz/crashers/ once mended, where every test run replays it).
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_CORE_ONLY=ON -DGLIMMER_FUZZ=ON
cmake --build build-fuzz -j "$jobs" --target fuzz_wavefile
mkdir -p build-fuzz/corpus
(cd build-fuzz && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./fuzz_wavefile -max_total_time=60 -max_len=8192 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix=./ corpus ../tests/fuzz/corpus ../tests/fuzz/crashers)

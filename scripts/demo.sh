#!/usr/bin/env bash
# Builds the libraries and the qvjpeg tool (optimised, without tests) and
# runs `qvjpeg demo`, which writes its images into demo/ and prints a table.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j2 >/dev/null
build/demo/tools/qvjpeg demo demo

#!/usr/bin/env bash
# Formats every C++ source of the tree in place with the committed .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
    echo "format: clang-format is not installed (apt-get install clang-format)" >&2
    exit 1
fi
git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format -i

#!/usr/bin/env bash
# src/module is what every folder stands on: none of its files may include another folder of
# the plug-in, or the layers would run in a circle.
set -uo pipefail
src=$(dirname "$(readlink -f "$0")")/../../src
upward=$(grep -nE '^#include "(address|config|editor|engine|panel|plugin|update)/' \
    "$src"/module/*.h "$src"/module/*.cpp "$src"/module/*.inc 2>/dev/null)
if [[ -n $upward ]]; then
    echo "FAIL: src/module includes a folder above it:"
    echo "$upward"
    exit 1
fi
echo "ok: src/module includes only itself, the host and Qt"

#!/usr/bin/env bash
# Builds alias_manager and starts it on the sample table in sample/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/packages.sh
cmake --preset default >/dev/null
cmake --build --preset default --target alias_manager >/dev/null
cd sample
exec ../build/alias_manager/alias_manager

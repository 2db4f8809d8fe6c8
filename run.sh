#!/usr/bin/env bash
# Installs what is missing, builds incrementally and starts Korvelin.
#   ./run.sh [VIDEO]
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh build RelWithDebInfo
exec build/korvelin "$@"

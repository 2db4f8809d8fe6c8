#!/usr/bin/env bash
# Installs what is missing, builds incrementally and starts Korvelin.
#   ./run.sh [VIDEO]
set -euo pipefail
# Builds in the project's folder but starts from the caller's, so a relative VIDEO names a
# file where the caller is.
here="$(cd "$(dirname "$0")" && pwd)"
(cd "$here" && scripts/deps.sh && scripts/build.sh build RelWithDebInfo)
exec "$here/build/korvelin" "$@"

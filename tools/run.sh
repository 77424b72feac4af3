#!/usr/bin/env bash
# Installs what is missing, builds, and starts the reader (with a demo catalogue when no recorder is set up).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/install.sh
bash tools/start-sound.sh
exec build/app/VornakReader2026 "$@"

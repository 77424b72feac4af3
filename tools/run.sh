#!/usr/bin/env bash
# Installs what is missing, builds, and starts the reader (with a demo catalogue when no recorder is set up).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/install.sh
bash tools/start-sound.sh
# The reader of this build in the user's application menu (only files that changed are rewritten).
bash tools/desktop-user.sh install || echo "Menu-item niet geïnstalleerd; de reader start toch." >&2
exec build/app/VornakReader2026 "$@"

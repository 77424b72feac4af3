#!/usr/bin/env bash
# Installs what is missing to build and run the reader, builds the reader and vornak-tool (nothing else:
# tools/test.sh builds the rest in the same folder, reusing these objects), and starts the reader (with a
# demo catalogue when no recorder is set up). VORNAK_NO_START=1 stops before the start (tools/time-commands.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
source tools/steps.sh
step apt bash tools/install.sh --run
# The same folder, build type and flags as tools/test.sh and tools/package.sh.
step configure bash tools/configure.sh build
step build-programs cmake --build build -j"$(nproc)" --target VornakReader2026 vornak-tool
[ "${VORNAK_NO_START:-}" = "1" ] && exit 0
bash tools/start-sound.sh
# The reader of this build in the user's application menu (only files that changed are rewritten).
bash tools/desktop-user.sh install || echo "Menu-item niet geïnstalleerd; de reader start toch." >&2
exec build/app/VornakReader2026 "$@"

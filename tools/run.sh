#!/usr/bin/env bash
# Installs what is missing to build and run the reader, builds the reader and vornak-tool (nothing else:
# tools/test.sh builds the rest in the same folder, reusing these objects), and starts the reader (with a
# demo catalogue when no recorder is set up).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/install.sh --run
# The same folder and build type as tools/test.sh.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target VornakReader2026 vornak-tool
bash tools/start-sound.sh
# The reader of this build in the user's application menu (only files that changed are rewritten).
bash tools/desktop-user.sh install || echo "Menu-item niet geïnstalleerd; de reader start toch." >&2
exec build/app/VornakReader2026 "$@"

#!/usr/bin/env bash
# Copies doc/vornak-tool.md into README.md between the two marker lines of the vornak-tool reference.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
readme="$here/README.md"
begin='<!-- vornak-tool reference: a copy of doc/vornak-tool.md, made by tools/update-readme.sh; edit that file -->'
end='<!-- end of the vornak-tool reference -->'
[ "$(grep -cxF "$begin" "$readme")" = 1 ] && [ "$(grep -cxF "$end" "$readme")" = 1 ] ||
  { echo "README.md: de markeringen van de vornak-tool-sectie ontbreken" >&2; exit 1; }
awk -v begin="$begin" -v end="$end" -v src="$here/doc/vornak-tool.md" '
  $0 == begin { print; while ((getline line < src) > 0) print line; skip = 1; next }
  $0 == end { skip = 0 }
  !skip { print }' "$readme" > "$readme.tmp.$$"
mv -f "$readme.tmp.$$" "$readme"

#!/usr/bin/env bash
# Copies doc/vornak-tool.md into docs/vornak-tool.md between the two marker lines of the vornak-tool reference
# (the documentation's copy; README.md links to it).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
page="$here/docs/vornak-tool.md"
begin='<!-- vornak-tool reference: a copy of doc/vornak-tool.md, made by tools/update-readme.sh; edit that file -->'
end='<!-- end of the vornak-tool reference -->'
[ "$(grep -cxF "$begin" "$page")" = 1 ] && [ "$(grep -cxF "$end" "$page")" = 1 ] ||
  { echo "docs/vornak-tool.md: de markeringen van de vornak-tool-sectie ontbreken" >&2; exit 1; }
awk -v begin="$begin" -v end="$end" -v src="$here/doc/vornak-tool.md" '
  $0 == begin { print; while ((getline line < src) > 0) print line; skip = 1; next }
  $0 == end { skip = 0 }
  !skip { print }' "$page" > "$page.tmp.$$"
mv -f "$page.tmp.$$" "$page"

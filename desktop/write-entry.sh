#!/usr/bin/env bash
# Writes the reader's desktop entry for one executable: write-entry.sh TEMPLATE READER OUT.
# OUT is replaced (through a temporary file) only when its text would change, so an unchanged entry keeps
# its time stamp and the desktop does not re-read it.
set -euo pipefail
[ $# -eq 3 ] || { echo "gebruik: write-entry.sh SJABLOON PROGRAMMA UITVOER" >&2; exit 2; }
template=$1 reader=$2 out=$3
case $reader in
  /*) ;;
  *) echo "write-entry.sh: het programma moet een absoluut pad zijn: $reader" >&2; exit 2 ;;
esac
# A desktop entry's value escapes a backslash; Exec quotes its argument and escapes " ` $ \ inside the
# quotes, and doubles % (field codes).
value=${reader//\\/\\\\}
quoted=${reader//\\/\\\\}
quoted=${quoted//\"/\\\"}
quoted=${quoted//\`/\\\`}
quoted=${quoted//\$/\\\$}
quoted=${quoted//%/%%}
quoted=${quoted//\\/\\\\}
text=$(while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    Exec=@EXEC@) printf 'Exec="%s"\n' "$quoted" ;;
    TryExec=@TRYEXEC@) printf 'TryExec=%s\n' "$value" ;;
    *) printf '%s\n' "$line" ;;
  esac
done < "$template")
if [ -f "$out" ] && [ "$(cat "$out")" = "$text" ]; then
  exit 0
fi
mkdir -p "$(dirname "$out")"
printf '%s\n' "$text" > "$out.tmp.$$"
mv -f "$out.tmp.$$" "$out"

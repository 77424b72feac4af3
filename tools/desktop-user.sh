#!/usr/bin/env bash
# Puts the reader of this checkout's build into the current user's application menu, or takes it out again.
#   tools/desktop-user.sh install   desktop entry and icons into ~/.local/share (XDG_DATA_HOME), rewritten
#                                   only where they changed; run by tools/run.sh on every start
#   tools/desktop-user.sh remove    deletes exactly those files
# Nothing outside the user's own data folder is touched.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd -P)
id=nl.vornak.VornakReader2026
data=${XDG_DATA_HOME:-$HOME/.local/share}
entry="$data/applications/$id.desktop"
icons="$data/icons/hicolor"

icon_files() {  # paths below hicolor/, one per line
  (cd "$here/desktop/icons/hicolor" && find . -type f -name "$id.*" | sed 's|^\./||' | sort)
}

refresh_caches() {
  command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" 2>/dev/null || true
  command -v gtk-update-icon-cache >/dev/null && [ -f "$icons/index.theme" ] &&
    gtk-update-icon-cache -q -t "$icons" 2>/dev/null || true
}

case ${1:-} in
  install)
    before=$(cat "$entry" 2>/dev/null || true)
    bash "$here/desktop/write-entry.sh" "$here/desktop/$id.desktop.in" "$here/build/app/VornakReader2026" "$entry"
    changed=0
    [ "$before" = "$(cat "$entry")" ] || changed=1
    while IFS= read -r f; do
      if ! cmp -s "$here/desktop/icons/hicolor/$f" "$icons/$f"; then
        mkdir -p "$(dirname "$icons/$f")"
        cp "$here/desktop/icons/hicolor/$f" "$icons/$f.tmp.$$"
        mv -f "$icons/$f.tmp.$$" "$icons/$f"
        changed=1
      fi
    done < <(icon_files)
    [ $changed -eq 0 ] || refresh_caches
    ;;
  remove)
    rm -f "$entry"
    while IFS= read -r f; do rm -f "$icons/$f"; done < <(icon_files)
    refresh_caches
    ;;
  *)
    echo "gebruik: tools/desktop-user.sh install|remove" >&2
    exit 2
    ;;
esac

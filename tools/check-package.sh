#!/usr/bin/env bash
# Checks a Debian package made by tools/package.sh:
#   tools/check-package.sh DEB             lintian without error or warning, the file list of
#                                          desktop/debian/contents, the version and computed dependencies
#   tools/check-package.sh DEB --install   also, as root on a throw-away machine (CI): installs it with apt,
#                                          starts vornak-tool and the reader as a new user without write
#                                          access to /usr/bin, checks that the settings and the demo land in
#                                          that user's folders, removes the package (only its settings files,
#                                          the conffiles, may stay) and purges it (none of its files is left);
#                                          the user is deleted again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deb=$1
fail() { echo "check-package: $*" >&2; exit 1; }
[ -f "$deb" ] || fail "no package $deb"

echo "== lintian"
lintian --fail-on error,warning --info "$deb"

echo "== file list"
diff -u <(grep -v '^#' "$here/desktop/debian/contents") \
  <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort) ||
  fail "the package's files differ from desktop/debian/contents"

echo "== control"
version=$(sed -n 's/^project(VornakReader2026 VERSION \([0-9.]*\) .*/\1/p' "$here/CMakeLists.txt")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6multimedia6 libavformat59 libsqlite3-0 libsoundtouch1 qt6-translations-l10n; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

[ "${2:-}" = "--install" ] || exit 0
[ "$(id -u)" -eq 0 ] || fail "--install needs root"

echo "== apt install, a user's first start, apt remove"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$(realpath "$deb")" >/dev/null
files=$(dpkg -L vornak-reader2026 | while IFS= read -r f; do [ -d "$f" ] || echo "$f"; done)
user=vornak-pkgtest
home=/tmp/$user.home
userdel -r "$user" 2>/dev/null || true
rm -rf "$home"
useradd --home-dir "$home" --create-home --shell /bin/bash "$user"
cleanup() {
  [ -n "${reader_pid:-}" ] && kill "$reader_pid" 2>/dev/null && wait "$reader_pid" 2>/dev/null
  userdel -r "$user" 2>/dev/null || true
  rm -rf "$home"
  dpkg-query -W vornak-reader2026 >/dev/null 2>&1 && apt-get remove -y -qq vornak-reader2026 >/dev/null
  true
}
trap cleanup EXIT
# The user's own session: no sound server of root's, and no sound server started on its behalf.
printf 'autospawn = no\n' > "$home/pulse-client.conf"
chown "$user:" "$home/pulse-client.conf"
as_user() {
  runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    PULSE_CLIENTCONFIG="$home/pulse-client.conf" "$@"
}

got=$(as_user vornak-tool --version)
[ "$got" = "vornak-tool $version" ] || fail "vornak-tool --version printed '$got'"
as_user test ! -w /usr/bin || fail "$user can write /usr/bin"

# The reader under a virtual display until its main window shows: the first start makes the demo (under a
# small window of the same title) and then writes the settings file, before the main window opens.
as_user xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  VornakReader2026 & pid=$!
  for _ in $(seq 1 240); do
    if [ -f "$HOME/.config/VornakReader2026/VornakReader2026.ini" ] &&
       xdotool search --name "Vornak Reader 2026" >/dev/null 2>&1; then kill $pid; wait $pid; exit 0; fi
    kill -0 $pid 2>/dev/null || exit 2
    sleep 1
  done
  kill $pid; exit 1' || fail "the reader showed no window (exit $?)"
[ -f "$home/.config/VornakReader2026/VornakReader2026.ini" ] || fail "no settings in the user's folder"
[ -f "$home/.local/share/VornakReader2026/demo/Vornak2026.sqlite" ] || fail "no demo in the user's data folder"
grep -q "^Database=$home/.local/share/VornakReader2026/demo/Vornak2026.sqlite" \
  "$home/.config/VornakReader2026/VornakReader2026.ini" || fail "the settings do not name the demo"
for f in /usr/bin/VornakReader2026.ini /usr/bin/Vornak2026.ini /usr/bin/demo; do
  [ ! -e "$f" ] || fail "$f was written"
done
echo "settings: $home/.config/VornakReader2026/VornakReader2026.ini"
echo "demo: $(find "$home/.local/share/VornakReader2026/demo" -type f | wc -l) files"

# apt remove keeps the administrator's settings (the package's conffiles) and nothing else; apt purge
# takes those too.
conffiles=$(dpkg-deb --info "$deb" conffiles 2>/dev/null || true)
apt-get remove -y -qq vornak-reader2026 >/dev/null
left=$(while IFS= read -r f; do [ -e "$f" ] && ! grep -qxF "$f" <<< "$conffiles" && echo "$f"; done <<< "$files" || true)
[ -z "$left" ] || fail "left after apt remove: $left"
apt-get purge -y -qq vornak-reader2026 >/dev/null
left=$(while IFS= read -r f; do [ -e "$f" ] && echo "$f"; done <<< "$files" || true)
[ -z "$left" ] || fail "left after apt purge: $left"
echo "apt remove left only the package's settings files, apt purge none of its $(wc -l <<< "$files") files"

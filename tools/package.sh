#!/usr/bin/env bash
# Builds the Debian package dist/vornak-reader2026_<version>_amd64.deb with CPack (cmake/VornakPackage.cmake)
# from build/, the folder tools/run.sh and tools/test.sh build in: the reader and vornak-tool built with
# Debian's own compiler and linker flags (dpkg-buildflags, hardening on; VORNAK_DEBIAN_FLAGS), installed
# under /usr, dependencies from dpkg-shlibdeps. After tools/test.sh's build nothing is compiled again. Then
# lintian checks it when lintian is installed (tools/install.sh --no-build installs it); any error or warning
# fails the command.
#   tools/package.sh               the package, checked by lintian
#   tools/package.sh --no-lintian  the package only (tools/test.sh: tools/check-package.sh runs lintian next)
# Standard output holds one line, the package's path; everything else goes to standard error.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
exec 3>&1 1>&2
lintian=1
[ "${1:-}" = "--no-lintian" ] && lintian=0
bash tools/install.sh --run

# Installing (and so packing) builds nothing beyond the targets below: tests and benchmarks stay unbuilt
# when build/ has none yet.
bash tools/configure.sh build -DVORNAK_DEBIAN_FLAGS=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build build -j"$(nproc)" --target VornakReader2026 vornak-tool tool_doc web_page

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb="dist/vornak-reader2026_${version}_amd64.deb"
rm -f "$deb"
(cd build && cpack -G DEB >/dev/null)
[ -f "$deb" ] || { echo "package.sh: $deb is not made" >&2; exit 1; }

if [ $lintian = 1 ] && command -v lintian >/dev/null; then
  lintian --fail-on error,warning --info "$deb"
fi
echo "$here/$deb" >&3

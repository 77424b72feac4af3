#!/usr/bin/env bash
# Builds the Debian package dist/vornak-reader2026_<version>_amd64.deb with CPack (cmake/VornakPackage.cmake):
# the reader and vornak-tool built with Debian's own compiler and linker flags (dpkg-buildflags, hardening
# on) in build-deb/, installed under /usr, dependencies from dpkg-shlibdeps. Then lintian checks it when
# lintian is installed (tools/install.sh --no-build installs it); any error or warning fails the command.
# Standard output holds one line, the package's path; everything else goes to standard error.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
exec 3>&1 1>&2
bash tools/install.sh --run

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Build type None: the flags above alone, as Debian's own packages are built. Tests and benchmarks are not
# built, and installing does not build them either.
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DVORNAK_BENCH=OFF >/dev/null
cmake --build build-deb -j"$(nproc)" --target VornakReader2026 vornak-tool tool_doc web_page

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-deb/CMakeCache.txt)
deb="dist/vornak-reader2026_${version}_amd64.deb"
rm -f "$deb"
(cd build-deb && cpack -G DEB >/dev/null)
[ -f "$deb" ] || { echo "package.sh: $deb is not made" >&2; exit 1; }

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --info "$deb"
fi
echo "$here/$deb" >&3

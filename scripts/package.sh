#!/usr/bin/env bash
# Builds the Debian package of Quillory in build-package/ (a Release build without the tests) and
# prints the path of the .deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package
"$root/scripts/setup.sh"
# Debian's hardened build flags (stack protector, fortified libc calls, full RELRO with bindnow),
# as Debian's own packages have them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/quillory_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/quillory_*.deb

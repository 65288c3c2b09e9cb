#!/usr/bin/env bash
# Makes the Debian package of a station's PC, torvistat9_<version>_amd64.deb: installs what the
# build takes (unless TORVI_SKIP_SETUP=1), builds a Release tree in build-package (PACKAGE_DIR
# picks another folder) with Debian's hardening flags and the prefix /usr, runs CPack and prints
# the package's path. A second run rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TORVI_SKIP_SETUP:-}" != "1" ]; then
    bash scripts/setup.sh --build
fi

build_dir=${PACKAGE_DIR:-build-package}
# The flags Debian builds its own packages with (stack protector, fortified functions, read-only
# relocations), so that the package's binaries are hardened as the distribution's are.
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now"
export CXXFLAGS LDFLAGS
echo "== configure ($build_dir)" >&2
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTORVI_BUILD_TESTS=OFF -DTORVI_BUILD_BENCH=OFF \
    ${TORVI_PACKAGE_MAINTAINER:+"-DTORVI_PACKAGE_MAINTAINER=$TORVI_PACKAGE_MAINTAINER"} >&2
echo "== build" >&2
cmake --build "$build_dir" >&2
echo "== package" >&2
# Only this version's package stays in the folder, so that *.deb names one file.
rm -f "$build_dir"/torvistat9_*.deb
(cd "$build_dir" && cpack -G DEB) >&2
deb=$(find "$(realpath "$build_dir")" -maxdepth 1 -name 'torvistat9_*_amd64.deb' -print -quit)
[ -n "$deb" ] || { echo "package.sh: CPack made no torvistat9_*_amd64.deb in $build_dir" >&2; exit 1; }
echo "$deb"

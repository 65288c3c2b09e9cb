#!/usr/bin/env bash
# Holds the Debian package of a station's PC: builds it with scripts/package.sh (a Release tree in
# build-package, rebuilt only where the sources changed), then checks its file list, its fields and
# dependencies (the run-time ones named, no compiler or development package), that lintian finds
# no error in it, and, from its unpacked files, each program's version and that each manual page
# describes every option the program's --help lists.
#
# Exits 77 (skipped) without dpkg-deb, dpkg-dev or lintian, except under CI=true, where that fails.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in dpkg-deb dpkg-buildflags lintian; do
    if ! command -v "$tool" >/dev/null; then
        if [ "${CI:-}" = "true" ]; then
            echo "check-package: $tool is missing; run scripts/setup.sh" >&2
            exit 1
        fi
        echo "check-package: skipped, $tool is missing" >&2
        exit 77
    fi
done

failed=0
fail() {
    echo "check-package: $*" >&2
    failed=1
}

build_dir=${PACKAGE_DIR:-build-package}
deb=$(TORVI_SKIP_SETUP=1 PACKAGE_DIR="$build_dir" bash scripts/package.sh | tail -n 1)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[ "$(basename "$deb")" = "torvistat9_${version}_amd64.deb" ] ||
    fail "the package is $(basename "$deb"), not torvistat9_${version}_amd64.deb"

# The whole file list: a file more (a header, a static library, CMake's files) is as wrong as one
# less.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expected=$(sort <<LIST
./usr/bin/torvi-host
./usr/bin/torvi-report
./usr/bin/torvi-stationdb
./usr/lib/$multiarch/torvistat/libtorvi-host-goods.so
./usr/lib/$multiarch/torvistat/libtorvistat9.so
./usr/lib/systemd/user/torvi-report.service
./usr/lib/systemd/user/torvi-report.timer
./usr/share/applications/torvi-host.desktop
./usr/share/doc/torvistat9/changelog.gz
./usr/share/doc/torvistat9/copyright
./usr/share/man/man1/torvi-host.1.gz
./usr/share/man/man1/torvi-report.1.gz
./usr/share/man/man1/torvi-stationdb.1.gz
LIST
)
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
if [ "$files" != "$expected" ]; then
    fail "the package's files differ from the expected ones (< expected, > in the package):"
    diff <(echo "$expected") <(echo "$files") | grep '^[<>]' >&2 || true
fi

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = torvistat9 ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is $(field Architecture)"
depends=$(field Depends)
# One name a line, without versions or alternatives' bars.
names() { tr ',|' '\n\n' | sed -e 's/(.*)//' -e 's/^ *//' -e 's/ *$//' | grep -v '^$' | sort -u; }
depends_names=$(names <<<"$depends")
suggests_names=$(field Suggests | names)
# What is loaded at run time, and what the binaries link (from dpkg-shlibdeps).
for package in libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins qt6-translations-l10n \
    fonts-dejavu-core fonts-dejavu-extra libc6 libqt6widgets6 libqt6charts6 libpq5; do
    grep -qx "$package" <<<"$depends_names" || fail "Depends lacks $package: $depends"
done
if bad=$(grep -E -e '-dev$' -e '^(g\+\+|gcc|cpp|clang|cmake|ninja-build|binutils|make|dpkg-dev)(-[0-9.]+)?$' \
    <<<"$depends_names"); then
    fail "Depends names what only a build needs: $(echo $bad)"
fi
for package in libreoffice-writer libreoffice-calc postgresql; do
    grep -qx "$package" <<<"$suggests_names" || fail "Suggests lacks $package"
    grep -qx "$package" <<<"$depends_names" && fail "$package is a dependency, not a suggestion"
done

# lintian's errors; its warnings are advice. The profile is Debian's, whatever the machine.
lintian_out=$(lintian --profile debian --tag-display-limit 0 "$deb" 2>&1 || true)
if grep -q '^E: ' <<<"$lintian_out"; then
    fail "lintian reports errors:"
    grep '^E: ' <<<"$lintian_out" >&2
fi

# The unpacked package: the programs as installed, with the system's Qt.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
grep -qx "ExecStart=/usr/bin/torvi-report .*" "$tree/usr/lib/systemd/user/torvi-report.service" ||
    fail "the installed service does not start /usr/bin/torvi-report"
for program in torvi-host torvi-report torvi-stationdb; do
    shown=$("$tree/usr/bin/$program" --version 2>&1 || true)
    [ "$shown" = "$program $version" ] || fail "$program --version says «$shown», not «$program $version»"
    # The tags of the page's option entries (the line after .TP or .TQ); in roff an option's
    # dashes are written \-\-.
    page=$(zcat "$tree/usr/share/man/man1/$program.1.gz" |
        awk 'tag { print } { tag = ($1 == ".TP" || $1 == ".TQ") }' | sed 's/\\-/-/g')
    for option in $("$tree/usr/bin/$program" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$page" ||
            fail "$program --help lists $option, its manual page (tools/$program/$program.1) has no entry for it"
    done
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "check-package: $deb holds (installed size $(field Installed-Size) KiB)"

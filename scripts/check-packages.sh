#!/usr/bin/env bash
# Holds that a fresh machine set up by scripts/setup.sh has every CMake package the build read:
# each package's config file (the *_DIR entries of the build's CMakeCache.txt) must come from a
# Debian package that setup.sh names or that one of those pulls in by Depends or Pre-Depends,
# followed through. setup.sh leaves recommends out, so a package that happens to be installed
# here for another reason would otherwise be missing on a newcomer's machine.
#
# Usage: scripts/check-packages.sh BUILD_DIR
set -euo pipefail

# BUILD_DIR is taken from the caller's folder, before the script moves to the project's root.
build_dir=$(realpath -m -- "${1:?usage: scripts/check-packages.sh BUILD_DIR}")
cd "$(dirname "$0")/.."
cache="$build_dir/CMakeCache.txt"
[ -f "$cache" ] || { echo "check-packages: $cache is missing; configure first" >&2; exit 2; }

# A *_DIR entry is a CMake package when its folder holds the package's config file; the other
# *_DIR entries are include folders of find modules, which no single package owns.
configs=()
while IFS= read -r entry; do
    name=${entry%%_DIR:PATH=*}
    dir=${entry#*_DIR:PATH=}
    for file in "$dir/${name}Config.cmake" "$dir/${name,,}-config.cmake"; do
        if [ -f "$file" ]; then
            configs+=("$file")
            break
        fi
    done
done < <(grep -E '^[A-Za-z0-9_.+-]+_DIR:PATH=/' "$cache")
if [ "${#configs[@]}" -eq 0 ]; then
    echo "check-packages: $cache names no CMake package; is it a configured build?" >&2
    exit 2
fi

# Owner of each config file, as "package<TAB>file". One dpkg call for all, as each call reads
# the whole file database. dpkg knows a file by the path it shipped it under, which on a merged
# /usr may differ from the path CMake found it by: those are asked again one by one.
declare -A owner_of=()
while IFS= read -r line; do
    owner_of[${line#*: }]=${line%%: /*}
done < <(dpkg -S "${configs[@]}" 2>/dev/null || true)
owners=$(
    for file in "${configs[@]}"; do
        found=${owner_of[$file]:-}
        if [ -z "$found" ]; then
            for path in "$(realpath -e "$file")" "${file#/usr}" "/usr$file"; do
                if line=$(dpkg -S "$path" 2>/dev/null | grep -m1 -F ": $path"); then
                    found=${line%%: /*}
                    break
                fi
            done
        fi
        printf '%s\t%s\n' "${found:--}" "$file"
    done
)

# Every installed package with what it provides and hard-depends on; the closure of setup.sh's
# list over that table. An alternative counts through its first choice, the one apt installs on
# a machine that has none of them; a virtual package through every installed provider.
bash scripts/setup.sh --list >"${TMPDIR:-/tmp}/check-packages.$$.named"
trap 'rm -f "${TMPDIR:-/tmp}/check-packages.$$.named"' EXIT
dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Provides}\t${Pre-Depends}, ${Depends}\n' |
    awk -F'\t' -v named="${TMPDIR:-/tmp}/check-packages.$$.named" -v owners="$owners" '
    function bare(dep) {
        sub(/^[ ]+/, "", dep)
        sub(/[ (].*$/, "", dep)
        sub(/:.*$/, "", dep)
        return dep
    }
    $1 ~ /^.i/ {
        installed[$2] = 1
        deps[$2] = $4
        n = split($3, provided, /, */)
        for (i = 1; i <= n; ++i)
            if ((p = bare(provided[i])) != "")
                providers[p] = providers[p] " " $2
    }
    END {
        failed = 0
        while ((getline pkg < named) > 0) {
            if (!(pkg in installed)) {
                print "check-packages: scripts/setup.sh names " pkg ", which is not installed; run scripts/setup.sh" > "/dev/stderr"
                failed = 1
                continue
            }
            queue[++tail] = pkg
            reached[pkg] = 1
        }
        while (head < tail) {
            pkg = queue[++head]
            n = split(deps[pkg], groups, /, */)
            for (i = 1; i <= n; ++i) {
                split(groups[i], choices, /[ ]*\|[ ]*/)
                dep = bare(choices[1])
                if (dep == "")
                    continue
                if (dep in installed)
                    candidates = dep
                else
                    candidates = providers[dep]
                m = split(candidates, list, " ")
                for (j = 1; j <= m; ++j)
                    if (!(list[j] in reached)) {
                        reached[list[j]] = 1
                        queue[++tail] = list[j]
                    }
            }
        }
        n = split(owners, lines, "\n")
        for (i = 1; i <= n; ++i) {
            split(lines[i], field, "\t")
            m = split(field[1], owning, /, */)
            ok = 0
            for (j = 1; j <= m; ++j)
                if (bare(owning[j]) in reached)
                    ok = 1
            if (ok)
                continue
            if (field[1] == "-")
                print "check-packages: the build reads " field[2] ", which no Debian package installed; install it from a package and add that package to scripts/setup.sh" > "/dev/stderr"
            else
                print "check-packages: the build reads " field[2] " from " bare(field[1]) ", which scripts/setup.sh neither names nor pulls in by a hard dependency; add " bare(field[1]) " to scripts/setup.sh" > "/dev/stderr"
            failed = 1
        }
        if (!failed)
            print "check-packages: " n " CMake packages, all from packages scripts/setup.sh installs"
        exit failed
    }'

#!/usr/bin/env bash
# Holds every folder to the arrows of the layout: each project include line of a file must name a
# folder that the file's own folder may use, only the choice of server, the library entry and the
# tools may name a server kind, and no two source files include each other's headers, directly or
# round a longer loop. Prints every offending line and fails if there is one. Run by the test
# command and by CTest (check_layers).
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder (longest prefix wins) and the include prefixes it may use, besides its own folder. A
# prefix with a leading "!" is refused even where a shorter allowed prefix would take it in.
# The platform subfolders never reach the system's folders or the plug-in's ABI header.
RULES=(
    "src/platform/core:"
    "src/platform/thread:platform/core/"
    "src/platform/data/sqlite:platform/core/ platform/data/"
    "src/platform/data/postgres:platform/core/ platform/data/"
    "src/platform/data/servers:platform/core/ platform/data/"
    "src/platform/data:platform/core/"
    "src/platform/chart:platform/core/"
    "src/platform/settings:platform/core/"
    "src/platform/ui:platform/core/ platform/thread/ platform/settings/"
    "src/support:platform/"
    "src/extraction:platform/"
    "src/export:platform/core/ platform/chart/"
    "src/windows:extraction/ export/ plugin/ platform/"
    "src/report_viewer:support/ platform/"
    "src/plugin:torvistat/ platform/"
    "src/library:torvistat/ plugin/ extraction/ windows/ report_viewer/ support/ platform/"
    "tools/torvi-host:torvistat/ platform/core/"
    "tools/torvi-stationdb:platform/core/ platform/data/"
    "tools/torvi-report:extraction/ export/ platform/"
)

# The folders of the server kinds, and the only folders besides them that may name one: the
# choice of server, the library entry and every tool. Whatever a folder's rule grants of
# platform/, these stay out of its reach.
SERVER_KINDS=(platform/data/sqlite/ platform/data/postgres/)
SERVER_KIND_NAMERS=(src/platform/data/servers src/library tools)

allowed_for() {
    local file=$1 best="" best_rule="" rule folder
    for rule in "${RULES[@]}"; do
        folder=${rule%%:*}
        if [[ "$file" == "$folder/"* ]] && [ ${#folder} -gt ${#best} ]; then
            best=$folder
            best_rule=${rule#*:}
        fi
    done
    [ -n "$best" ] || return 1
    echo "$best|$best_rule"
}

may_name_server_kind() {
    local file=$1 namer
    for namer in "${SERVER_KIND_NAMERS[@]}"; do
        [[ "$file" == "$namer/"* ]] && return 0
    done
    return 1
}

# The file without its extension: a header and its source are one unit of the loop check.
unit_of() {
    echo "${1%.*}"
}

status=0
checked=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
while IFS= read -r file; do
    [ -f "$file" ] || continue
    entry=$(allowed_for "$file") || continue
    folder=${entry%%|*}
    read -r -a allowed <<<"${entry#*|}"
    checked=$((checked + 1))
    while IFS=: read -r line include; do
        # A tool's local header ("Host.h") is a unit beside the file; Qt's and the libraries'
        # <...> headers are never arrows.
        if [[ "$include" != */* ]]; then
            [ -f "$(dirname "$file")/$include" ] &&
                echo "$(unit_of "$file") $(unit_of "$(dirname "$file")/$include")" >>"$edges"
            continue
        fi
        [ -f "src/$include" ] && echo "$(unit_of "$file") $(unit_of "src/$include")" >>"$edges"
        for kind in "${SERVER_KINDS[@]}"; do
            if [[ "$include" == "$kind"* && "$file" != "src/$kind"* ]] &&
                ! may_name_server_kind "$file"; then
                echo "$file:$line: #include \"$include\" names a server kind (only" \
                    "${SERVER_KIND_NAMERS[*]} may)"
                status=1
                continue 2
            fi
        done
        # Within its own folder a file includes freely, but a nested folder with rules of its own
        # is another layer: the servers under data/ depend on the data core, never the reverse.
        owner=$(allowed_for "src/$include") && [ "${owner%%|*}" = "$folder" ] && continue
        ok=0
        for prefix in "${allowed[@]}"; do
            if [[ "$prefix" == '!'* ]]; then
                [[ "$include" == "${prefix#!}"* ]] && ok=0 && break
            elif [[ "$include" == "$prefix"* ]]; then
                ok=1
            fi
        done
        if [ $ok -eq 0 ]; then
            echo "$file:$line: #include \"$include\" crosses the layers (allowed from $folder:" \
                "${allowed[*]:-nothing outside it})"
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2/')
    # New files count before they are committed: a planted include is caught either way.
done < <(git ls-files --cached --others --exclude-standard -- 'src/*.h' 'src/*.cpp' 'tools/*.h' \
    'tools/*.cpp' 2>/dev/null || find src tools -name '*.h' -o -name '*.cpp')

# Include loops between units: tsort names the members of any loop it meets.
loops=$(sort -u "$edges" | awk '$1 != $2' | tsort 2>&1 >/dev/null | sed -n 's/^tsort: //p' | grep -v 'input contains a loop' || true)
if [ -n "$loops" ]; then
    echo "include loop between source files (each includes the next one's header):"
    echo "$loops" | sed 's/^/    /'
    status=1
fi

if [ $status -eq 0 ]; then
    echo "layers: $checked files, every include within its folder's arrows, no include loop"
fi
exit $status

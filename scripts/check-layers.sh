#!/usr/bin/env bash
# Holds every folder to the arrows of the layout: each project include line of a file must name a
# folder that the file's own folder may use. Prints every offending line and fails if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder (longest prefix wins) and the include prefixes it may use, besides its own folder.
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
    "src/windows:extraction/ plugin/ platform/"
    "src/report_viewer:support/ platform/"
    "src/plugin:torvistat/ platform/"
    "src/library:torvistat/ plugin/ extraction/ windows/ report_viewer/ support/ platform/"
    "tools/torvi-host:torvistat/ platform/core/"
    "tools/torvi-stationdb:platform/core/ platform/data/"
)

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

status=0
checked=0
while IFS= read -r file; do
    entry=$(allowed_for "$file") || continue
    folder=${entry%%|*}
    read -r -a allowed <<<"${entry#*|}"
    checked=$((checked + 1))
    while IFS=: read -r line include; do
        # Only the project's own headers: a path with a folder. Local headers of a tool ("Host.h")
        # and Qt's or the library's own <...> headers are not arrows.
        [[ "$include" == */* ]] || continue
        # Within its own folder a file includes freely, but a nested folder with rules of its own
        # is another layer: the servers under data/ depend on the data core, never the reverse.
        owner=$(allowed_for "src/$include") && [ "${owner%%|*}" = "$folder" ] && continue
        ok=0
        for prefix in "${allowed[@]}"; do
            [[ "$include" == "$prefix"* ]] && ok=1 && break
        done
        if [ $ok -eq 0 ]; then
            echo "$file:$line: #include \"$include\" crosses the layers (allowed from $folder: ${allowed[*]:-nothing outside it})"
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2/')
done < <(git ls-files -- 'src/*.h' 'src/*.cpp' 'tools/*.h' 'tools/*.cpp' 2>/dev/null ||
    find src tools -name '*.h' -o -name '*.cpp')

if [ $status -eq 0 ]; then
    echo "layers: $checked files, every include within its folder's arrows"
fi
exit $status

#!/usr/bin/env bash
# Checks the program's folders against the table of who may use whom: every
# '#include "folder/..."' line of a folder must name a folder that folder may depend on,
# and every target_link_libraries line of its CMakeLists.txt only libraries of those
# folders. The build runs it; a line out of place stops the build with the file, the
# line and the rule.
#   scripts/check-boundaries.sh [SOURCE_DIR]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

# The folders each folder may include (its own always), in the order of the table:
# App in the middle on Resources and Platform; its operations (Media, Settings,
# Production, Support, Help) on App; Production alone on the engine; the engine on the
# platform only; the platform on nothing of ours; the shipped tools on anything but App.
# app/version.h is the configured version header, readable by everyone.
declare -A allowed=(
    [app]="resources platform"
    [media]="app resources platform"
    [settings]="app resources platform"
    [production]="app resources platform engine"
    [support]="app resources platform"
    [help]="app resources platform"
    [resources]="platform"
    [engine]="platform"
    [platform]=""
    [tools]="resources platform engine support"
)
# The libraries each folder may link: vantorel_<folder> for the folders above.
declare -A linkable=(
    [app]="resources platform deps"
    [media]="resources platform deps"
    [settings]="resources platform deps"
    [production]="engine resources platform deps"
    [support]="resources platform deps"
    [help]="resources platform deps"
    [resources]="platform deps"
    [engine]="platform deps"
    [platform]="deps"
    [tools]="engine resources platform deps"
)

failures=0
report() {
    echo "$1: $2" >&2
    failures=$((failures + 1))
}

# Every '#include "x/..."' of the files under dir whose x is a folder of ours.
check_includes() {
    local folder=$1 dir=$2 file line target
    while IFS=: read -r file line; do
        target=${line#*\"}
        target=${target%%/*}
        [ -d "src/$target" ] || continue
        [ "$target" = "$folder" ] && continue
        [[ "$line" == *'"app/version.h"'* ]] && continue
        [[ " ${allowed[$folder]} " == *" $target "* ]] \
            || report "$file" "$folder may not include $target/ ($line)"
    done < <(grep -rHoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/[^"]*"' "$dir" \
                 --include='*.h' --include='*.cpp' --include='*.c' --include='*.in' || true)
}

# Every vantorel_<x> named on a target_link_libraries line of the folder's CMake files,
# other than the folder's own targets.
check_links() {
    local folder=$1 dir=$2 file line lib
    while IFS=: read -r file line; do
        for lib in $(grep -oE 'vantorel_[a-z_]+' <<<"$line" | sed 1d); do
            lib=${lib#vantorel_}
            [ "$lib" = "$folder" ] && continue
            [ -d "src/$lib" ] || [ "$lib" = deps ] || continue
            [[ " ${linkable[$folder]} " == *" $lib "* ]] \
                || report "$file" "$folder may not link vantorel_$lib ($line)"
        done
    done < <(grep -rHE 'target_link_libraries\(vantorel_' "$dir" --include=CMakeLists.txt || true)
}

for folder in app media settings production support help resources engine platform; do
    check_includes "$folder" "src/$folder"
    check_links "$folder" "src/$folder"
done
check_includes tools tools
check_links tools tools

if [ "$failures" -gt 0 ]; then
    echo "check-boundaries: $failures line(s) cross the folders' boundaries" >&2
    exit 1
fi

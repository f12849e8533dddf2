#!/usr/bin/env bash
# Fails when a C++ file of the project does not match .clang-format; prints the files.
#   scripts/check-format.sh        check
#   scripts/check-format.sh --fix  rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format --style=file -i "${files[@]}"
    exit 0
fi
off=()
for f in "${files[@]}"; do
    clang-format --style=file --dry-run -Werror "$f" >/dev/null 2>&1 || off+=("$f")
done
if [ "${#off[@]}" -gt 0 ]; then
    printf 'not formatted (run scripts/check-format.sh --fix):\n' >&2
    printf '  %s\n' "${off[@]}" >&2
    exit 1
fi
echo "formatting: ${#files[@]} files match .clang-format"

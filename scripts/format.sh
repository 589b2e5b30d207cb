#!/usr/bin/env bash
# The C and C++ sources as .clang-format lays them out.
#   scripts/format.sh          rewrite every tracked source in place
#   scripts/format.sh --check  list the sources that differ and fail, changing nothing
# Generated tables opt out inside themselves (// clang-format off).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.c' '*.h' '*.cpp' '*.hpp' '*.cc')
if [[ ${1:-} == --check ]]; then
    bad=()
    for f in "${files[@]}"; do
        clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
    done
    if ((${#bad[@]})); then
        printf 'format: not as .clang-format lays it out: %s\n' "${bad[@]}" >&2
        echo "format: ${#bad[@]} of ${#files[@]} files; scripts/format.sh rewrites them" >&2
        exit 1
    fi
    echo "format: ${#files[@]} files as .clang-format lays them out"
else
    clang-format -i "${files[@]}"
fi

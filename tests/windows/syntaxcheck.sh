#!/usr/bin/env bash
# Compiles every source named in a list file with the compiler and flags given there, in parallel.
# The file: the compiler, its flags one per line, a line "--", then one source per line.
set -euo pipefail
mapfile -t lines < "$1"
compiler="${lines[0]}"
flags=()
sources=()
seen_sources=0
for line in "${lines[@]:1}"; do
  [[ -z "$line" ]] && continue
  if [[ "$line" == "--" ]]; then seen_sources=1; continue; fi
  if [[ $seen_sources -eq 1 ]]; then sources+=("$line"); else flags+=("$line"); fi
done
[[ ${#sources[@]} -gt 0 ]] || { echo "no sources in $1" >&2; exit 1; }

jobs="$(nproc)"
printf '%s\0' "${sources[@]}" | xargs -0 -P "$jobs" -I{} sh -c '
  out=$("$0" "$@" {} 2>&1) || { printf "FAILED %s\n%s\n" {} "$out"; exit 255; }
  [ -z "$out" ] || { printf "WARNINGS %s\n%s\n" {} "$out"; exit 255; }' "$compiler" "${flags[@]}"
echo "${#sources[@]} sources compile for Windows with $(basename "$compiler")"

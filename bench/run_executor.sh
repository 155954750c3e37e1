#!/usr/bin/env bash
# Starts throwaway PostgreSQL and MariaDB servers, builds the executor benchmark and runs
# it against them. Arguments go to the benchmark (a round multiplier, default 1).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MIRELO_BUILD_DIR:-$root/build}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_executor

# shellcheck source=../scripts/lib/dbservers.sh
source "$root/scripts/lib/dbservers.sh"
trap mirelo_db_stop EXIT
trap 'exit 130' INT TERM
mirelo_db_start
"$build/bench/bench_executor" "$@"

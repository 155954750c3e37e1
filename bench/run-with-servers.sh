#!/usr/bin/env bash
# Starts throwaway PostgreSQL and MariaDB servers, builds one benchmark and runs it against
# them.   bench/run-with-servers.sh bench_executor [rounds multiplier]
#         bench/run-with-servers.sh bench_export [rounds multiplier]
#         bench/run-with-servers.sh bench_csvexport [rounds multiplier]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MIRELO_BUILD_DIR:-$root/build}"
target="${1:?name a benchmark, e.g. bench_executor}"
shift

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target "$target"

# shellcheck source=../scripts/lib/dbservers.sh
source "$root/scripts/lib/dbservers.sh"
trap mirelo_db_stop EXIT
trap 'exit 130' INT TERM
mirelo_db_start
"$build/bench/$target" "$@"

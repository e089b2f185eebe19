#!/usr/bin/env bash
# Builds the stress test in the ThreadSanitizer preset (build/tsan) and runs
# it there. Any data race report fails it (halt_on_error), as does a deadlock
# at shut-down or two jobs at once.
set -euo pipefail
source_dir=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$source_dir"
cmake --preset tsan >/dev/null
cmake --build build/tsan --target vane_stress_tests -j"$(nproc)" >/dev/null
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
exec build/tsan/tests/vane_stress_tests

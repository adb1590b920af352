#!/usr/bin/env bash
# Sets up a Debian machine and runs every test: installs the packages, builds everything with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs the unit tests and the end-to-end
# checks on a headless test desktop through CTest. README.md and .ci/run both use this command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MEVRIK_BUILD_DIR:-$root/build/asan}

. "$root/tools/phase.sh"
"$root/tools/setup-debian.sh"
"$root/tools/setup-codex.sh"  # the Codex CLI that the plug-in checks drive

# The compiler's output goes to the log; a failed build shows its end there.
build_all() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMEVRIK_SANITIZE=ON
  cmake --build "$build" -j "$(nproc)"
}
phase "$root/build/logs/build.log" "building (Debug, with the sanitizers) in $build…" -- build_all

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
# Unit tests in parallel first; then the desktop checks alone, since their timing checks (gaps
# between synthetic events) should not compete with sanitised unit tests for the CPU.
ctest --output-on-failure -j "$(nproc)" -LE 'e2e|package' "$@"
ctest --output-on-failure -L e2e -LE heavy "$@"
# Last, the Debian package: a release build, installed on this machine and purged again, then
# installed and used in a minimal Debian 12 root (debootstrap, cached in /var/cache/mevrik-roots).
ctest --output-on-failure -L package -LE heavy "$@"

#!/usr/bin/env bash
# Checks the prerequisite detection against fake package lists (it never
# installs anything: --check) and the search for the newest run directory.
#   scripts_test.sh SCRIPTS_DIR SCRATCH_DIR
set -uo pipefail
scripts=$1
scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

base="g++ make cmake pkg-config zlib1g-dev libisal-dev libgtest-dev libgmock-dev libbenchmark-dev"
plugin="clang-14 llvm-14-dev libclang-rt-14-dev"
tests="python3-pandas graphviz chromium chromium-driver"

# prereq <installed packages> -- <arguments>: sets status and err.
prereq() {
  local list=$scratch/installed
  : >"$list"
  while [ "$1" != -- ]; do echo "$1" >>"$list"; shift; done
  shift
  err=$(PROF_PREREQ_INSTALLED=$list "$scripts/prerequisites" --check "$@" 2>&1 >/dev/null)
  status=$?
}

# shellcheck disable=SC2086
prereq $base $plugin $tests -- --plugin --tests
[ "$status" = 0 ] && [ -z "$err" ] || fail "complete set: status $status, '$err'"

# The simulate command's set: the tool chain without the test tools.
# shellcheck disable=SC2086
prereq $base $plugin -- --plugin
[ "$status" = 0 ] || fail "plugin set without the test tools: status $status, '$err'"

# shellcheck disable=SC2086
prereq $base -- 
[ "$status" = 0 ] || fail "base set without the plugin's tools: status $status"

# Names are matched whole: g++-12 and libgtest-dev-doc are other packages.
prereq g++-12 make cmake pkg-config libgtest-dev-doc libgmock-dev libbenchmark-dev clang-14 -- --plugin --tests
expected="apt-get update && apt-get install -y --no-install-recommends g++ zlib1g-dev libisal-dev libgtest-dev llvm-14-dev libclang-rt-14-dev python3-pandas graphviz chromium chromium-driver"
[ "$status" = 1 ] || fail "missing packages: status $status"
grep -qxF "  $expected" <<<"$err" || fail "missing packages: expected the line '$expected' in '$err'"

prereq -- 
grep -qF "install -y --no-install-recommends $base" <<<"$err" || fail "empty system: '$err'"
grep -qF clang <<<"$err" && fail "the plugin's tools asked for without --plugin: '$err'"

# The newest run directory, below a path full of underscores, by number.
profile=$scratch/my_checkout_2/build_x/profile
mkdir -p "$profile"
for n in 0 1 2 9 10 3; do mkdir "$profile/app_0_$n"; done
mkdir "$profile/app_0_x" "$profile/app_0_11b" "$profile/app_00_99" "$profile/app_1_50"
touch "$profile/app_0_12"  # a file, not a run directory
latest=$("$scripts/latest-run-dir" "$profile/")
[ "$latest" = "$profile/app_0_10" ] || fail "latest run directory: '$latest'"
mkdir "$profile/app_0_011"  # leading zeros: number 11
latest=$("$scripts/latest-run-dir" "$profile")
[ "$latest" = "$profile/app_0_011" ] || fail "leading zeros: '$latest'"
latest=$("$scripts/latest-run-dir" "$profile" app_1)
[ "$latest" = "$profile/app_1_50" ] || fail "other binary UID: '$latest'"
"$scripts/latest-run-dir" "$scratch" >/dev/null 2>&1 && fail "no run directory: status 0"

[ "$failures" = 0 ] && echo "all script checks passed"
exit "$failures"

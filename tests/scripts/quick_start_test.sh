#!/usr/bin/env bash
# Runs the README's first commands verbatim, as a new user does right after
# cloning: in a copy of the checkout's files without any build, the quick
# start's simulate command and then the whole block "Reading a run
# directory". Every command must succeed and the reader must print labelled
# records. (The quick start's test command is the one running this.)
#   quick_start_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
src=$1
scratch=$2
clone=$scratch/clone
rm -rf "$scratch" && mkdir -p "$clone"
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "$src is not a git checkout: nothing to clone"
  exit 77
fi
# What a clone holds (with this checkout's uncommitted edits): the tracked
# and new files, not the ignored build and run folders.
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -C "$clone" -xf - || fail "copying the checkout"

# block <heading>: the first sh block below the README heading.
block() {
  awk -v heading="$1" '
    $0 == heading { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }' "$clone/README.md"
}
quick_start=$(block "## Quick start" | grep -v '^\./scripts/test')
reading=$(block "### Reading a run directory")
[ -n "$quick_start" ] && [ -n "$reading" ] || fail "README: no quick start or reading block"

cd "$clone" || exit 1
for commands in "$quick_start" "$reading"; do
  echo "\$ $commands"
  bash -euo pipefail -c "$commands" >"$scratch/out" 2>"$scratch/err" ||
    { cat "$scratch/out" "$scratch/err" >&2; fail "the commands above exited with status $?"; }
  out=$(cat "$scratch/out")
  case $commands in
    ./scripts/simulate*)
      grep -qx 'Energía ventana 127: 102' <<<"$out" || fail "simulate: no last console line"
      grep -q '^Run directory: .*/vendel_plain_csim/app_0_0$' <<<"$out" || fail "simulate: no plugin-built run directory"
      grep -q '^Hand-instrumented run directory: .*/vendel_csim/app_0_0$' <<<"$out" ||
        fail "simulate: no hand-instrumented run directory" ;;
    *)
      grep -q 'entry function=201 name="vendel(short\*, short\*, int\*)" caller=200' <<<"$out" ||
        fail "no labelled entry of vendel"
      grep -q 'local-access variable=[0-9]* name="sigA" in="main"' <<<"$out" || fail "no labelled access"
      grep -m 4 ' entry function=' <<<"$out" ;;
  esac
done
echo "the README's quick start and reading commands work in a fresh copy"

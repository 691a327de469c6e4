#!/usr/bin/env bash
# Builds consumer/, a design project as a user writes it, through one of the
# two documented routes, and runs its profiled programs:
#   subdirectory  the source tree added with add_subdirectory, gcc and g++;
#                 also the build tree's compiler wrappers, before and after
#                 what they need is built
#   package       this build installed into a prefix and found with
#                 find_package, clang 14; also the installed wrappers
# Each program must print its result and leave one run directory whose trace
# is complete and names the program's functions.
#   routes_test.sh ROUTE SOURCE_DIR BUILD_DIR SCRATCH_DIR
set -uo pipefail
route=$1
src=$2
build=$3
scratch=$4
here=$(cd "$(dirname "$0")" && pwd)
proftrace=$build/tools/proftrace/proftrace
profiles=$scratch/profiles
consumer=$scratch/build
rm -rf "$scratch" && mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# quiet <command...>: runs it, shows its output only when it fails.
quiet() {
  if ! "$@" >"$scratch/log" 2>&1; then
    cat "$scratch/log" >&2
    return 1
  fi
}

# check_program <program> <expected output> [<function name>]: runs it in
# the scratch folder, then reads its one run directory; a plugin-built
# program's trace must name the function.
check_program() {
  local program=$1 expected=$2 function=${3:-} name out dirs
  name=$(basename "$program")
  out=$(cd "$scratch" && "$program") || { fail "$name exited with status $?"; return; }
  [ "$out" = "$expected" ] || fail "$name printed '$out'"
  dirs=("$profiles/$name"/app_0_*)
  [ ${#dirs[@]} = 1 ] && [ -d "${dirs[0]}" ] || { fail "$name: run directories ${dirs[*]}"; return; }
  quiet "$proftrace" check "${dirs[0]}" || fail "$name: proftrace check"
  [ -n "$function" ] || return
  "$proftrace" dump --labels "${dirs[0]}/thread0000-trace.txt" >"$scratch/labels" 2>&1 || fail "$name: labels"
  grep -q "entry function=[0-9]* name=\"$function" "$scratch/labels" || fail "$name: no entry of $function"
}

# one_line <what> <hint> <command...>: the command must fail with one line
# on standard error that contains <hint>, and nothing on standard output.
one_line() {
  local what=$1 hint=$2 out err
  shift 2
  out=$("$@" 2>"$scratch/err") && fail "$what: exit status 0"
  err=$(cat "$scratch/err")
  [ -z "$out" ] && [ "$(wc -l <"$scratch/err")" = 1 ] && [[ $err == *"$hint"* ]] ||
    fail "$what: expected one line with '$hint', got '$out' and '$err'"
}

# A design unit with the stream header, compiled and linked by a wrapper
# without any -I, its traces compressed by ISA-L: it must run profiled.
wrapper_builds() {
  local wrapper=$1 dir=$scratch/wrapped
  mkdir -p "$dir"
  if quiet "$wrapper" -O1 -c "$here/consumer/fir.c" -o "$dir/fir.o" &&
     quiet "$wrapper" "--prof-dir=$profiles/fir_wrapped" --prof-codec=isal1 "$dir/fir.o" "$here/consumer/fir_test.c" \
       -o "$dir/fir_wrapped"
  then
    check_program "$dir/fir_wrapped" "fir 61" fir
  else
    fail "$wrapper: the stream header without -I"
  fi
}

case $route in
  subdirectory)
    if ! quiet cmake -S "$here/consumer" -B "$consumer" -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
           -DCONSUMER_ROUTE=subdirectory "-DPROF_SOURCE_DIR=$src" "-DCONSUMER_PROFILE_DIR=$profiles"; then
      fail "configure"
      exit 1
    fi
    # The parent's choices stand; the tree's own programs are not built.
    for entry in CMAKE_BUILD_TYPE:STRING= PROF_BUILD_TESTS:BOOL=OFF PROF_BUILD_EXAMPLES:BOOL=OFF \
                 PROF_BUILD_BENCHMARKS:BOOL=OFF; do
      grep -qx "$entry" "$consumer/CMakeCache.txt" || fail "cache: expected $entry"
    done
    wrapper=$consumer/prof/bin/prof-clang
    one_line "wrapper before the plugin is built" "--target prof_wrappers" "$wrapper" -c "$here/consumer/fir.c"
    # An unprofiled target never waits for the plugin, even with a source
    # file in common with a profiled one.
    quiet cmake --build "$consumer" -j2 --target fir || fail "build fir"
    [ -e "$consumer/prof/plugin/ProfInstrument.so" ] && fail "building fir built the plugin"
    [ "$(cd "$scratch" && "$consumer/fir")" = "fir 61" ] || fail "fir"
    quiet cmake --build "$consumer" -j2 --target fir_csim scale_csim scale_plain_after_csim probe prof_wrappers ||
      fail "build"
    check_program "$consumer/fir_csim" "fir 61" fir
    check_program "$consumer/probe" "total 18"
    check_program "$consumer/cxx/scale_csim" "scale 57" "scale("
    check_program "$consumer/cxx/scale_plain_after_csim" "scale 57" "scale("
    wrapper_builds "$wrapper"
    # Objects built by the plugin do not link without the start-up stub,
    # which starts the runtime: the program would run unprofiled.
    libs=("$consumer/prof/plugin/libprof_registration.a" "$consumer/prof/libraries/libprof_hls.a"
          "$consumer/prof/libraries/libprof.a" -lz -lisal -lstdc++)
    if clang-14 "$scratch/wrapped/fir.o" "$here/consumer/fir_test.c" "${libs[@]}" -o "$scratch/no_stub" \
         2>"$scratch/err"; then
      fail "linked without the start-up stub"
    else
      grep -q "undefined reference to \`__PROF_sharedLibraryInit'" "$scratch/err" ||
        fail "link without the stub: $(cat "$scratch/err")"
    fi
    ;;
  package)
    prefix=$scratch/prefix
    quiet cmake --install "$build" --prefix "$prefix" || { fail "install"; exit 1; }
    if ! quiet cmake -S "$here/consumer" -B "$consumer" -DCMAKE_C_COMPILER=clang-14 \
           -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_PREFIX_PATH=$prefix" \
           "-DCONSUMER_PROFILE_DIR=$profiles"; then
      fail "configure"
      exit 1
    fi
    quiet cmake --build "$consumer" -j2 || fail "build"
    [ "$(cd "$scratch" && "$consumer/fir")" = "fir 61" ] || fail "fir"
    check_program "$consumer/fir_csim" "fir 61" fir
    check_program "$consumer/probe" "total 18"
    check_program "$consumer/cxx/scale_csim" "scale 57" "scale("
    check_program "$consumer/cxx/scale_plain_after_csim" "scale 57" "scale("
    wrapper_builds "$prefix/bin/prof-clang"
    rm "$prefix"/lib*/prof/ProfInstrument.so
    one_line "installed wrapper without its plugin" "cmake --install" "$prefix/bin/prof-clang" \
      -c "$here/consumer/fir.c"
    ;;
  *)
    echo "usage: $0 subdirectory|package SOURCE_DIR BUILD_DIR SCRATCH_DIR" >&2
    exit 2
    ;;
esac

[ "$failures" = 0 ] && echo "the $route route works"
exit "$failures"

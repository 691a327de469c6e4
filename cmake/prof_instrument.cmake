# prof_instrument(<target> [PROFILE_DIR <abs dir>] [TRACE_MEM ON|OFF] [TRACE_ALLOCS ON|OFF]
#                 [RETURN_VALUES ON|OFF] [BASIC_BLOCKS ON|OFF] [SKIP_STACK ON|OFF]
#                 [LIB_POINTER_ARGS ON|OFF] [ACCESS_KINDS ON|OFF] [EXCLUDE <pattern>...] [FLUSH_KIB <n>]
#                 [CODEC zlib4|zlib1|isal1] [COMPRESSION_THREADS auto|<n>])
#
# Turns an ordinary executable target into a profiled one: its C and C++
# sources are compiled by clang 14 with the instrumenting plugin, and it is
# linked with the start-up stub (configured with PROFILE_DIR, TRACE_MEM and
# TRACE_ALLOCS), the registration library and the runtime. EXCLUDE lists
# glob patterns of functions or source files left uninstrumented. Options
# are described in docs/instrumenting.md.
#
# PROF_PLUGIN (default ON when LLVM 14 and clang 14 are found) switches the
# plugin on; without it the runtime still builds and tests.
#
# FLUSH_KIB (default PROF_TRACE_FLUSH_KIB, 0) bounds what SIGKILL or a power
# loss can take from a trace: every trace is flushed to its file at least
# once per <n> KiB of records; 0 keeps the traces' bytes as without it.
#
# CODEC (default PROF_TRACE_CODEC, zlib4) compresses the traces with zlib at
# level 4, with zlib1 at zlib's level 1, or with isal1 by ISA-L's deflate at
# its level 1; the faster codecs write larger files of the same format,
# which zlib inflates to the same records (figures in docs/performance.md).
#
# COMPRESSION_THREADS (default PROF_TRACE_COMPRESSION_THREADS, auto) is the
# number of threads of the runtime's own that compress the traces while the
# design's threads go on: auto uses one fewer than the processors the
# program may run on (at most 8), 0 compresses each trace on its own thread.
# The traces' bytes are the same either way.
#
# Everything the function needs is a cache entry or is found from this
# file's own location, because it is called from other directories than the
# one that included this file: a project that adds this source tree with
# add_subdirectory calls it from its own, parent directory.
include_guard(GLOBAL)

# The stub's settings are resolved as for hand-instrumented executables.
include(${CMAKE_CURRENT_LIST_DIR}/prof.cmake)

# In the source tree the plugin is built here (plugin/); from an installed
# package it is found next to this file's directory (lib/prof/).
function(_prof_plugin_from_source out)
  if(EXISTS "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../plugin/CMakeLists.txt")
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

_prof_plugin_from_source(PROF_INSTRUMENT_FROM_SOURCE)
find_program(PROF_CLANG_EXECUTABLE NAMES clang-14 HINTS /usr/lib/llvm-14/bin)
find_program(PROF_CLANGXX_EXECUTABLE NAMES clang++-14 HINTS /usr/lib/llvm-14/bin)
set(prof_plugin_possible OFF)
if(PROF_INSTRUMENT_FROM_SOURCE)
  find_package(LLVM 14 CONFIG QUIET HINTS /usr/lib/llvm-14/lib/cmake/llvm)
  set(PROF_PLUGIN_FILE "${PROJECT_BINARY_DIR}/plugin/ProfInstrument.so" CACHE INTERNAL "")
  if(LLVM_FOUND AND LLVM_VERSION_MAJOR EQUAL 14 AND PROF_CLANG_EXECUTABLE AND PROF_CLANGXX_EXECUTABLE)
    set(prof_plugin_possible ON)
  endif()
else()
  get_filename_component(_prof_plugin "${CMAKE_CURRENT_LIST_DIR}/../../prof/ProfInstrument.so" ABSOLUTE)
  set(PROF_PLUGIN_FILE "${_prof_plugin}" CACHE INTERNAL "")
  unset(_prof_plugin)
  if(EXISTS "${PROF_PLUGIN_FILE}" AND PROF_CLANG_EXECUTABLE AND PROF_CLANGXX_EXECUTABLE)
    set(prof_plugin_possible ON)
  endif()
endif()
set(PROF_TRACE_FLUSH_KIB 0 CACHE STRING
    "Flush every trace of programs made with prof_instrument at least every this many KiB of records (0: off)")
set(PROF_TRACE_CODEC zlib4 CACHE STRING
    "Compression of the traces of programs made with prof_instrument: zlib4 (zlib level 4), zlib1 (level 1, faster) or isal1 (ISA-L level 1, fastest)")
set_property(CACHE PROF_TRACE_CODEC PROPERTY STRINGS zlib4 zlib1 isal1)
set(PROF_TRACE_COMPRESSION_THREADS auto CACHE STRING
    "Threads compressing the traces of programs made with prof_instrument: auto (processors - 1, at most 8) or a number (0: on the traced threads)")
option(PROF_PLUGIN "Build and use the instrumenting compiler plugin (needs llvm-14-dev and clang-14)"
       ${prof_plugin_possible})
if(PROF_PLUGIN AND NOT prof_plugin_possible)
  message(FATAL_ERROR "PROF_PLUGIN is ON but LLVM 14 and clang 14 were not found: install the Debian packages "
                      "llvm-14-dev and clang-14, or configure with -DPROF_PLUGIN=OFF")
endif()

# Compiles a target's sources with clang 14 when the project compiler is
# another one: "prof-compile-with <clang> <project compiler> <args>".
set(PROF_INSTRUMENT_LAUNCHER "${CMAKE_BINARY_DIR}/prof-compile-with" CACHE INTERNAL "")
if(PROF_PLUGIN)
  file(WRITE "${PROF_INSTRUMENT_LAUNCHER}" "#!/bin/sh\ncompiler=\"$1\"\nshift 2\nexec \"$compiler\" \"$@\"\n")
  file(CHMOD "${PROF_INSTRUMENT_LAUNCHER}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

# True when <compiler id> <version> is clang 14, which needs no launcher.
function(_prof_is_clang14 out id version)
  if(id STREQUAL "Clang" AND version VERSION_GREATER_EQUAL 14 AND version VERSION_LESS 15)
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

function(prof_instrument target)
  cmake_parse_arguments(ARG ""
    "PROFILE_DIR;TRACE_MEM;TRACE_ALLOCS;RETURN_VALUES;BASIC_BLOCKS;SKIP_STACK;LIB_POINTER_ARGS;ACCESS_KINDS;FLUSH_KIB;CODEC;COMPRESSION_THREADS"
    "EXCLUDE" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "prof_instrument(${target}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT PROF_PLUGIN)
    message(FATAL_ERROR "prof_instrument(${target}): the compiler plugin is switched off (PROF_PLUGIN=OFF)")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "EXECUTABLE")
    message(FATAL_ERROR "prof_instrument(${target}): only executables can be instrumented")
  endif()
  _prof_plugin_from_source(from_source)
  # As for hand-instrumented executables: each program its own folder.
  _prof_stub_settings(${target} prof_instrument)
  foreach(flag RETURN_VALUES BASIC_BLOCKS SKIP_STACK LIB_POINTER_ARGS ACCESS_KINDS)
    if(ARG_${flag})
      set(${flag} 1)
    else()
      set(${flag} 0)
    endif()
  endforeach()

  # The target's own sources go through clang 14 and the plugin. A language
  # this directory has not enabled has no compiler id, so it gets the
  # launcher too.
  set(launcher "$CACHE{PROF_INSTRUMENT_LAUNCHER}")
  _prof_is_clang14(cxx_is_clang14 "${CMAKE_CXX_COMPILER_ID}" "${CMAKE_CXX_COMPILER_VERSION}")
  _prof_is_clang14(c_is_clang14 "${CMAKE_C_COMPILER_ID}" "${CMAKE_C_COMPILER_VERSION}")
  if(NOT cxx_is_clang14)
    set_property(TARGET ${target} PROPERTY CXX_COMPILER_LAUNCHER "${launcher};${PROF_CLANGXX_EXECUTABLE}")
    # Linked by clang++ too, so that sanitizer runtimes match the compiler
    # that instrumented the sources, and so that the C++ runtime, which the
    # registration library and the runtime need, is linked also into a C
    # program.
    set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER "${launcher};${PROF_CLANGXX_EXECUTABLE}")
    set_property(TARGET ${target} PROPERTY C_LINKER_LAUNCHER "${launcher};${PROF_CLANGXX_EXECUTABLE}")
  endif()
  if(NOT c_is_clang14)
    set_property(TARGET ${target} PROPERTY C_COMPILER_LAUNCHER "${launcher};${PROF_CLANG_EXECUTABLE}")
  endif()
  set(plugin "${PROF_PLUGIN_FILE}")
  list(JOIN ARG_EXCLUDE "," exclude)
  # -fpass-plugin runs the pass; -load makes its -mllvm options known
  # before clang parses them. The depfile entry makes every object of this
  # target, and of no other, depend on the plugin: a rebuilt plugin
  # recompiles what it instruments.
  target_compile_options(${target} PRIVATE
    "-fpass-plugin=${plugin}" "SHELL:-Xclang -load -Xclang ${plugin}" -fno-discard-value-names
    "SHELL:-Xclang -fdepfile-entry=${plugin}"
    "SHELL:-mllvm -prof-trace-mem=${TRACE_MEM}" "SHELL:-mllvm -prof-trace-allocs=${TRACE_ALLOCS}"
    "SHELL:-mllvm -prof-return-values=${RETURN_VALUES}" "SHELL:-mllvm -prof-basic-blocks=${BASIC_BLOCKS}"
    "SHELL:-mllvm -prof-skip-stack=${SKIP_STACK}" "SHELL:-mllvm -prof-lib-pointer-args=${LIB_POINTER_ARGS}"
    "SHELL:-mllvm -prof-access-kinds=${ACCESS_KINDS}")
  if(exclude)
    target_compile_options(${target} PRIVATE "SHELL:-mllvm \"-prof-exclude=${exclude}\"")
  endif()
  # In the source tree the plugin is one of the build's targets: this
  # target, and only this one, waits for it.
  if(from_source)
    add_dependencies(${target} ProfInstrument)
  endif()

  # The stub's common part with this target's configuration, compiled
  # without the plugin.
  _prof_stub_library(${target} "${ARG_PROFILE_DIR}" ${TRACE_MEM} ${TRACE_ALLOCS})
  if(NOT DEFINED ARG_FLUSH_KIB)
    set(ARG_FLUSH_KIB "${PROF_TRACE_FLUSH_KIB}")
  endif()
  if(NOT ARG_FLUSH_KIB MATCHES "^[0-9]+$")
    message(FATAL_ERROR "prof_instrument(${target}): FLUSH_KIB must be a number of KiB, got '${ARG_FLUSH_KIB}'")
  endif()
  if(ARG_FLUSH_KIB GREATER 0)
    target_compile_definitions(${target}_prof_stub PRIVATE PROF_TRACE_FLUSH_KIB=${ARG_FLUSH_KIB})
  endif()
  if(NOT DEFINED ARG_CODEC)
    set(ARG_CODEC "${PROF_TRACE_CODEC}")
  endif()
  if(ARG_CODEC STREQUAL "zlib1")
    target_compile_definitions(${target}_prof_stub PRIVATE PROF_TRACE_COMPRESSION_LEVEL=1)
  elseif(ARG_CODEC STREQUAL "isal1")
    target_compile_definitions(${target}_prof_stub PRIVATE PROF_TRACE_CODEC_KIND=1)
  elseif(NOT ARG_CODEC STREQUAL "zlib4")
    message(FATAL_ERROR "prof_instrument(${target}): CODEC must be zlib4, zlib1 or isal1, got '${ARG_CODEC}'")
  endif()
  if(NOT DEFINED ARG_COMPRESSION_THREADS)
    set(ARG_COMPRESSION_THREADS "${PROF_TRACE_COMPRESSION_THREADS}")
  endif()
  if(ARG_COMPRESSION_THREADS MATCHES "^[0-9]+$")
    target_compile_definitions(${target}_prof_stub PRIVATE PROF_TRACE_COMPRESSION_THREADS=${ARG_COMPRESSION_THREADS})
  elseif(NOT ARG_COMPRESSION_THREADS STREQUAL "auto")
    message(FATAL_ERROR "prof_instrument(${target}): COMPRESSION_THREADS must be auto or a number, "
                        "got '${ARG_COMPRESSION_THREADS}'")
  endif()

  # As for hand-instrumented executables: fixed load address for the note,
  # hooks exported. The same targets in the source tree and from the
  # installed package.
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  target_link_options(${target} PRIVATE -no-pie)
  _prof_link(${target} prof::registration prof::prof)
endfunction()

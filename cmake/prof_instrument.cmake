# prof_instrument(<target> [PROFILE_DIR <abs dir>] [TRACE_MEM ON|OFF] [TRACE_ALLOCS ON|OFF]
#                 [RETURN_VALUES ON|OFF] [BASIC_BLOCKS ON|OFF] [SKIP_STACK ON|OFF]
#                 [LIB_POINTER_ARGS ON|OFF] [ACCESS_KINDS ON|OFF] [EXCLUDE <pattern>...])
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

# The stub's settings are resolved as for hand-instrumented executables.
include(${CMAKE_CURRENT_LIST_DIR}/prof.cmake)

# In the source tree the plugin is built here (plugin/); from an installed
# package it is found next to this file's directory (lib/prof/).
set(PROF_INSTRUMENT_FROM_SOURCE OFF)
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../plugin/CMakeLists.txt")
  set(PROF_INSTRUMENT_FROM_SOURCE ON)
endif()
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
  get_filename_component(PROF_PLUGIN_FILE "${CMAKE_CURRENT_LIST_DIR}/../../prof/ProfInstrument.so" ABSOLUTE)
  if(EXISTS "${PROF_PLUGIN_FILE}" AND PROF_CLANG_EXECUTABLE AND PROF_CLANGXX_EXECUTABLE)
    set(prof_plugin_possible ON)
  endif()
endif()
option(PROF_PLUGIN "Build and use the instrumenting compiler plugin (needs llvm-14-dev and clang-14)"
       ${prof_plugin_possible})
if(PROF_PLUGIN AND NOT prof_plugin_possible)
  message(FATAL_ERROR "PROF_PLUGIN is ON but LLVM 14 and clang 14 were not found: install the Debian packages "
                      "llvm-14-dev and clang-14, or configure with -DPROF_PLUGIN=OFF")
endif()

# Compiles a target's sources with clang 14 when the project compiler is
# another one: "prof-compile-with <clang> <project compiler> <args>".
set(PROF_INSTRUMENT_LAUNCHER "${CMAKE_BINARY_DIR}/prof-compile-with")
if(PROF_PLUGIN)
  file(WRITE "${PROF_INSTRUMENT_LAUNCHER}" "#!/bin/sh\ncompiler=\"$1\"\nshift 2\nexec \"$compiler\" \"$@\"\n")
  file(CHMOD "${PROF_INSTRUMENT_LAUNCHER}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

# Runs at the end of a directory that instrumented targets: every target of
# it that compiles anything is built after the plugin (see OBJECT_DEPENDS).
function(_prof_build_plugin_first)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      add_dependencies(${t} ProfInstrument)
    endif()
  endforeach()
endfunction()

function(prof_instrument target)
  cmake_parse_arguments(ARG ""
    "PROFILE_DIR;TRACE_MEM;TRACE_ALLOCS;RETURN_VALUES;BASIC_BLOCKS;SKIP_STACK;LIB_POINTER_ARGS;ACCESS_KINDS" "EXCLUDE" ${ARGN})
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
  # As for hand-instrumented executables: each program its own folder.
  _prof_stub_settings(${target} prof_instrument)
  foreach(flag RETURN_VALUES BASIC_BLOCKS SKIP_STACK LIB_POINTER_ARGS ACCESS_KINDS)
    if(ARG_${flag})
      set(${flag} 1)
    else()
      set(${flag} 0)
    endif()
  endforeach()

  # The target's own sources go through clang 14 and the plugin.
  if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 14
          AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 15))
    set_property(TARGET ${target} PROPERTY CXX_COMPILER_LAUNCHER "${PROF_INSTRUMENT_LAUNCHER};${PROF_CLANGXX_EXECUTABLE}")
    # Linked by clang too, so that sanitizer runtimes match the compiler
    # that instrumented the sources.
    set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER "${PROF_INSTRUMENT_LAUNCHER};${PROF_CLANGXX_EXECUTABLE}")
    set_property(TARGET ${target} PROPERTY C_LINKER_LAUNCHER "${PROF_INSTRUMENT_LAUNCHER};${PROF_CLANGXX_EXECUTABLE}")
  endif()
  if(NOT (CMAKE_C_COMPILER_ID STREQUAL "Clang" AND CMAKE_C_COMPILER_VERSION VERSION_GREATER_EQUAL 14
          AND CMAKE_C_COMPILER_VERSION VERSION_LESS 15))
    set_property(TARGET ${target} PROPERTY C_COMPILER_LAUNCHER "${PROF_INSTRUMENT_LAUNCHER};${PROF_CLANG_EXECUTABLE}")
  endif()
  set(plugin "${PROF_PLUGIN_FILE}")
  list(JOIN ARG_EXCLUDE "," exclude)
  # -fpass-plugin runs the pass; -load makes its -mllvm options known
  # before clang parses them.
  target_compile_options(${target} PRIVATE
    "-fpass-plugin=${plugin}" "SHELL:-Xclang -load -Xclang ${plugin}" -fno-discard-value-names
    "SHELL:-mllvm -prof-trace-mem=${TRACE_MEM}" "SHELL:-mllvm -prof-trace-allocs=${TRACE_ALLOCS}"
    "SHELL:-mllvm -prof-return-values=${RETURN_VALUES}" "SHELL:-mllvm -prof-basic-blocks=${BASIC_BLOCKS}"
    "SHELL:-mllvm -prof-skip-stack=${SKIP_STACK}" "SHELL:-mllvm -prof-lib-pointer-args=${LIB_POINTER_ARGS}"
    "SHELL:-mllvm -prof-access-kinds=${ACCESS_KINDS}")
  if(exclude)
    target_compile_options(${target} PRIVATE "SHELL:-mllvm \"-prof-exclude=${exclude}\"")
  endif()
  get_target_property(sources ${target} SOURCES)
  # Recompiled when the plugin changes. The dependency is a property of the
  # source file, so every target of the directory that compiles the same
  # file sees it too; in the source tree they all wait for the plugin.
  set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS "${plugin}")
  if(PROF_INSTRUMENT_FROM_SOURCE)
    get_property(deferred DIRECTORY PROPERTY PROF_PLUGIN_ORDERING_DEFERRED)
    if(NOT deferred)
      set_property(DIRECTORY PROPERTY PROF_PLUGIN_ORDERING_DEFERRED ON)
      cmake_language(DEFER CALL _prof_build_plugin_first)
    endif()
  endif()

  # The stub's common part with this target's configuration, compiled
  # without the plugin.
  # The same targets in the source tree and from the installed package, so
  # that a project adding this tree as a subdirectory needs nothing else.
  if(PROF_INSTRUMENT_FROM_SOURCE)
    add_dependencies(${target} ProfInstrument)
    set(runtime prof_registration prof::prof)
  else()
    set(runtime prof::registration prof::prof)
  endif()
  add_library(${target}_prof_stub OBJECT)
  target_link_libraries(${target}_prof_stub PRIVATE prof::stub)
  target_compile_definitions(${target}_prof_stub PRIVATE
    "PROF_PROFILE_DIR=\"${ARG_PROFILE_DIR}\"" PROF_TRACE_MEM=${TRACE_MEM} PROF_TRACE_ALLOCS=${TRACE_ALLOCS})
  set_target_properties(${target}_prof_stub PROPERTIES POSITION_INDEPENDENT_CODE OFF)

  # As for hand-instrumented executables: fixed load address for the note,
  # hooks exported.
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  target_link_options(${target} PRIVATE -no-pie)
  target_link_libraries(${target} PRIVATE ${target}_prof_stub ${runtime})
endfunction()

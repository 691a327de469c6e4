# CMake functions for hand-instrumented executables. They work in this
# source tree (also when another project adds it with add_subdirectory) and
# from an installed copy found with find_package(prof).
#
# prof_add_instrumented_executable(<name> SOURCES <files...> [STUB <file>]
#     [PROFILE_DIR <abs dir>] [TRACE_MEM ON|OFF] [TRACE_ALLOCS ON|OFF])
#
# Adds an executable from hand-instrumented sources and makes it a profiled
# one with prof_link_runtime. STUB is the binary's generated part (its three
# registration routines, see profStub/stub.h); it may as well be one of the
# SOURCES.
#
# prof_link_runtime(<target> [PROFILE_DIR <abs dir>] [TRACE_MEM ON|OFF]
#     [TRACE_ALLOCS ON|OFF])
#
# Makes an existing executable target a profiled one: compiles the common
# part of the start-up stub (start-up constructor, configuration record,
# note, hook tables) into it with its own configuration and links the
# runtime and the stream model (target prof::prof).
#   PROFILE_DIR   absolute directory under which each run creates its run
#                 directory; default: <PROF_PROFILE_DIR>/<target> when
#                 PROF_PROFILE_DIR is set, else
#                 <CMAKE_BINARY_DIR>/profile/<target>.
#   TRACE_MEM     write memory-access records (default PROF_TRACE_MEM, ON).
#   TRACE_ALLOCS  track heap blocks (default PROF_TRACE_ALLOCS, ON).
include_guard(GLOBAL)

# The stub's settings of <target>, shared by every way of making a profiled
# executable: ARG_PROFILE_DIR (default <PROF_PROFILE_DIR or build/profile>/
# <target>, always absolute), ARG_TRACE_MEM and ARG_TRACE_ALLOCS (default
# PROF_TRACE_MEM / PROF_TRACE_ALLOCS, else ON), and TRACE_MEM / TRACE_ALLOCS
# as 0 or 1 for the stub's compile definitions.
macro(_prof_stub_settings target caller)
  if(NOT DEFINED ARG_PROFILE_DIR OR ARG_PROFILE_DIR STREQUAL "")
    if(PROF_PROFILE_DIR)
      set(ARG_PROFILE_DIR "${PROF_PROFILE_DIR}/${target}")
    else()
      set(ARG_PROFILE_DIR "${CMAKE_BINARY_DIR}/profile/${target}")
    endif()
  endif()
  # The directory is baked into the executable and the program may run
  # anywhere: a relative path would name a different place in every run.
  if(NOT IS_ABSOLUTE "${ARG_PROFILE_DIR}")
    message(FATAL_ERROR "${caller}(${target}): the profile directory must be absolute, got '${ARG_PROFILE_DIR}'")
  endif()
  foreach(_prof_mode TRACE_MEM TRACE_ALLOCS)
    if(NOT DEFINED ARG_${_prof_mode})
      if(DEFINED PROF_${_prof_mode})
        set(ARG_${_prof_mode} ${PROF_${_prof_mode}})
      else()
        set(ARG_${_prof_mode} ON)
      endif()
    endif()
    if(ARG_${_prof_mode})
      set(${_prof_mode} 1)
    else()
      set(${_prof_mode} 0)
    endif()
  endforeach()
endmacro()

# Links <items> into <target> without target_link_libraries: a target may
# use only one of its two signatures (plain or with PRIVATE/PUBLIC), and the
# caller's own calls, before or after ours, may use either. An executable
# has no dependants that would need the items, so LINK_LIBRARIES is all
# that the keyword form PRIVATE would have set.
function(_prof_link target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_LIBRARIES ${ARGN})
endfunction()

# Adds the object library <target>_prof_stub: the stub's common part with
# <target>'s profile directory and trace modes (0 or 1), and links it into
# <target>. The stub's sources are C++; a directory that enabled only C
# would leave them out without a word (their language has no compiler
# there) and the program would run without its runtime ever starting, so
# there the C compiler compiles them as C++ (the runtime brings the C++
# runtime library into a C program's link).
function(_prof_stub_library target profile_dir trace_mem trace_allocs)
  set(stub ${target}_prof_stub)
  add_library(${stub} OBJECT)
  target_compile_definitions(${stub} PRIVATE
    "PROF_PROFILE_DIR=\"${profile_dir}\"" PROF_TRACE_MEM=${trace_mem} PROF_TRACE_ALLOCS=${trace_allocs})
  set_target_properties(${stub} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  if(CMAKE_CXX_COMPILER_LOADED)
    target_link_libraries(${stub} PRIVATE prof::stub)
  elseif(CMAKE_C_COMPILER_LOADED)
    target_sources(${stub} PRIVATE ${PROF_STUB_SOURCES})
    target_include_directories(${stub} PRIVATE ${PROF_STUB_INCLUDE_DIR})
    target_link_libraries(${stub} PRIVATE prof::prof)
    set_source_files_properties(${PROF_STUB_SOURCES} TARGET_DIRECTORY ${stub} PROPERTIES
      LANGUAGE C COMPILE_OPTIONS "-xc++;-std=gnu++17")
    # No C language level: it would contradict the one given above.
    set_property(TARGET ${stub} PROPERTY C_STANDARD)
  else()
    message(FATAL_ERROR "${target}: a profiled executable needs a C or C++ compiler; enable C or CXX in "
                        "project() or with enable_language()")
  endif()
  _prof_link(${target} ${stub})
endfunction()

function(prof_link_runtime target)
  cmake_parse_arguments(ARG "" "PROFILE_DIR;TRACE_MEM;TRACE_ALLOCS" "" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "prof_link_runtime(${target}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET prof::prof OR NOT TARGET prof::stub)
    message(FATAL_ERROR "prof_link_runtime(${target}): the targets prof::prof and prof::stub are not "
                        "visible here; call find_package(prof) in this directory or a parent")
  endif()
  _prof_stub_settings(${target} prof_link_runtime)

  # The note's descriptor holds an absolute address in a read-only section,
  # so the executable is linked at a fixed address (no load-time relocation);
  # the hooks are exported in its dynamic symbol table.
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF ENABLE_EXPORTS ON)
  target_link_options(${target} PRIVATE -no-pie)
  # prof::stub brings the stub's sources; prof::prof the libraries and
  # everything they link (zlib, threads), found by whoever defined them.
  if(CMAKE_CXX_COMPILER_LOADED)
    target_compile_definitions(${target} PRIVATE
      "PROF_PROFILE_DIR=\"${ARG_PROFILE_DIR}\"" PROF_TRACE_MEM=${TRACE_MEM} PROF_TRACE_ALLOCS=${TRACE_ALLOCS})
    _prof_link(${target} prof::stub)
  else()
    _prof_stub_library(${target} "${ARG_PROFILE_DIR}" ${TRACE_MEM} ${TRACE_ALLOCS})
  endif()
  _prof_link(${target} prof::prof)
endfunction()

function(prof_add_instrumented_executable name)
  cmake_parse_arguments(ARG "" "STUB;PROFILE_DIR;TRACE_MEM;TRACE_ALLOCS" "SOURCES" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "prof_add_instrumented_executable(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  add_executable(${name} ${ARG_SOURCES} ${ARG_STUB})
  set(options)
  foreach(option PROFILE_DIR TRACE_MEM TRACE_ALLOCS)
    if(DEFINED ARG_${option})
      list(APPEND options ${option} ${ARG_${option}})
    endif()
  endforeach()
  prof_link_runtime(${name} ${options})
endfunction()

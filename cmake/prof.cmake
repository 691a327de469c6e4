# prof_add_instrumented_executable(<name> SOURCES <files...> STUB <file>
#     [PROFILE_DIR <abs dir>] [TRACE_MEM ON|OFF] [TRACE_ALLOCS ON|OFF])
#
# Links hand-instrumented sources with the start-up stub and the runtime.
# STUB is the binary's generated part (its three registration routines);
# the stub's common part (start-up constructor, configuration record, note,
# hook tables) is compiled into each executable with its own configuration.
function(prof_add_instrumented_executable name)
  cmake_parse_arguments(ARG "" "STUB;PROFILE_DIR;TRACE_MEM;TRACE_ALLOCS" "SOURCES" ${ARGN})
  if(NOT ARG_PROFILE_DIR)
    set(ARG_PROFILE_DIR "${PROF_PROFILE_DIR}")
  endif()
  if(NOT IS_ABSOLUTE "${ARG_PROFILE_DIR}")
    message(FATAL_ERROR "${name}: the profile directory must be absolute, got '${ARG_PROFILE_DIR}'")
  endif()
  if(NOT DEFINED ARG_TRACE_MEM)
    set(ARG_TRACE_MEM ${PROF_TRACE_MEM})
  endif()
  if(NOT DEFINED ARG_TRACE_ALLOCS)
    set(ARG_TRACE_ALLOCS ${PROF_TRACE_ALLOCS})
  endif()
  set(mem 0)
  set(allocs 0)
  if(ARG_TRACE_MEM)
    set(mem 1)
  endif()
  if(ARG_TRACE_ALLOCS)
    set(allocs 1)
  endif()

  add_executable(${name} ${ARG_SOURCES} ${ARG_STUB} ${PROF_STUB_SOURCES})
  target_compile_definitions(${name} PRIVATE
    "PROF_PROFILE_DIR=\"${ARG_PROFILE_DIR}\"" PROF_TRACE_MEM=${mem} PROF_TRACE_ALLOCS=${allocs})
  target_include_directories(${name} PRIVATE ${PROF_PUBLIC_INCLUDE_DIRS} ${PROF_STUB_INCLUDE_DIR})
  # The note's descriptor holds an absolute address in a read-only section,
  # so the executable is linked at a fixed address (no load-time relocation).
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE OFF ENABLE_EXPORTS ON)
  target_link_options(${name} PRIVATE -no-pie)
  # hls before prof: the stream wrappers report through the runtime.
  target_link_libraries(${name} PRIVATE hls prof ZLIB::ZLIB Threads::Threads)
endfunction()

# Fuzz targets of the trace reader and of proftrace. Included from
# tests/fuzz/CMakeLists.txt when PROF_FUZZ is on. The reader's sources are
# compiled into each target so that they carry the fuzzer's coverage
# instrumentation whatever flags the libraries were built with.
set(PROF_READER_FUZZ_SOURCES
  ${PROJECT_SOURCE_DIR}/tools/tracereader/tracereader.cpp
  ${PROJECT_SOURCE_DIR}/tools/tracereader/trace_stream.cpp
  ${PROJECT_SOURCE_DIR}/tools/tracereader/run_directory.cpp
  ${PROJECT_SOURCE_DIR}/tools/tracereader/records.cpp)
file(GLOB PROF_PROFTRACE_FUZZ_SOURCES ${PROJECT_SOURCE_DIR}/tools/proftrace/*.cpp)
list(FILTER PROF_PROFTRACE_FUZZ_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# Seed inputs (real traces of the shipped designs, and a decodable one):
# a run passes its own corpus directory first, then the seed directory, so
# that new inputs never land in the source tree.
set(PROF_FUZZ_SEEDS_trace_reader_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/reader)
set(PROF_FUZZ_SEEDS_proftrace_dump_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/dump)

if(NOT COMMAND prof_add_fuzz_target)
  # Stand-alone form: a libFuzzer binary and a bounded run labelled fuzz.
  function(prof_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name} COMMAND ${name} ${corpus} ${PROF_FUZZ_SEEDS_${name}}
             -max_total_time=60 -max_len=16384 -rss_limit_mb=1024)
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
  endfunction()
endif()

prof_add_fuzz_target(trace_reader_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_reader_fuzz.cpp ${PROF_READER_FUZZ_SOURCES}
  LIBS ZLIB::ZLIB)
target_include_directories(trace_reader_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tools
                           ${PROJECT_SOURCE_DIR}/libraries/commonProfInclude/include)

prof_add_fuzz_target(proftrace_dump_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/proftrace_dump_fuzz.cpp ${PROF_READER_FUZZ_SOURCES} ${PROF_PROFTRACE_FUZZ_SOURCES}
  LIBS ZLIB::ZLIB)
target_include_directories(proftrace_dump_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tools ${PROJECT_SOURCE_DIR}/tools/proftrace
                           ${PROJECT_SOURCE_DIR}/libraries/commonProfInclude/include)

# Fuzz targets of the trace reader and of proftrace, included from
# tests/fuzz/CMakeLists.txt. The reader's sources are
# compiled into each target so that they carry the fuzzer's coverage
# instrumentation whatever flags the libraries were built with.
# Globbed, so that a unit added to the reader or to proftrace is never
# missing from the targets' link.
file(GLOB PROF_READER_FUZZ_SOURCES ${PROJECT_SOURCE_DIR}/tools/tracereader/*.cpp)
file(GLOB PROF_PROFTRACE_FUZZ_SOURCES ${PROJECT_SOURCE_DIR}/tools/proftrace/*.cpp ${PROJECT_SOURCE_DIR}/tools/report/*.cpp)
list(FILTER PROF_PROFTRACE_FUZZ_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# Seed inputs (real traces of the shipped designs, and a decodable one):
# a run passes its own corpus directory first, then the seed directory, so
# that new inputs never land in the source tree.
set(PROF_FUZZ_SEEDS_trace_reader_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/reader)
set(PROF_FUZZ_SEEDS_proftrace_dump_fuzz ${CMAKE_CURRENT_LIST_DIR}/corpus/dump)

# Each run writes what it finds into its own corpus directory in the build
# tree, then reads the seeds.
foreach(name trace_reader_fuzz proftrace_dump_fuzz)
  set(PROF_FUZZ_CORPUS_${name} ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${PROF_FUZZ_CORPUS_${name}})
endforeach()

prof_add_fuzz_target(trace_reader_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_reader_fuzz.cpp ${PROF_READER_FUZZ_SOURCES}
  LIBS ZLIB::ZLIB SECONDS 60
  ARGS ${PROF_FUZZ_CORPUS_trace_reader_fuzz} ${PROF_FUZZ_SEEDS_trace_reader_fuzz} -max_len=16384 -rss_limit_mb=1024)
target_include_directories(trace_reader_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tools
                           ${PROJECT_SOURCE_DIR}/libraries/commonProfInclude/include)

prof_add_fuzz_target(proftrace_dump_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/proftrace_dump_fuzz.cpp ${PROF_READER_FUZZ_SOURCES} ${PROF_PROFTRACE_FUZZ_SOURCES}
  LIBS ZLIB::ZLIB SECONDS 60
  ARGS ${PROF_FUZZ_CORPUS_proftrace_dump_fuzz} ${PROF_FUZZ_SEEDS_proftrace_dump_fuzz} -max_len=16384 -rss_limit_mb=1024)
target_include_directories(proftrace_dump_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/tools ${PROJECT_SOURCE_DIR}/tools/proftrace
                           ${PROJECT_SOURCE_DIR}/libraries/commonProfInclude/include
                           ${PROJECT_SOURCE_DIR}/tests/support)

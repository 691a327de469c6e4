# ISA-L's deflate, the faster trace codec's (CODEC isal1), which the runtime
# always links: the imported target prof::isal. ISA-L has no CMake package
# of its own; the Debian package libisal-dev puts its header and library on
# the default paths. Sets PROF_ISAL_FOUND; whoever includes this file says
# what a missing ISA-L means there.
include_guard(GLOBAL)

find_path(PROF_ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
find_library(PROF_ISAL_LIBRARY isal)
if(PROF_ISAL_INCLUDE_DIR AND PROF_ISAL_LIBRARY)
  set(PROF_ISAL_FOUND ON)
  # Global, so that every directory linking the runtime resolves it.
  if(NOT TARGET prof::isal)
    add_library(prof::isal UNKNOWN IMPORTED GLOBAL)
    set_target_properties(prof::isal PROPERTIES IMPORTED_LOCATION "${PROF_ISAL_LIBRARY}"
                                                INTERFACE_INCLUDE_DIRECTORIES "${PROF_ISAL_INCLUDE_DIR}")
  endif()
else()
  set(PROF_ISAL_FOUND OFF)
endif()

# GoogleTest, built from source with the project's own compiler (the MinGW build has no
# prebuilt library to link): the sources of Debian's googletest package, or wherever
# GLYPHDOCK_GTEST_SOURCE points. Defines the gtest and gtest_main targets.
find_path(GLYPHDOCK_GTEST_SOURCE NAMES googletest/CMakeLists.txt
          PATHS /usr/src/googletest /usr/local/src/googletest NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "GoogleTest's source tree (the folder holding googletest/)")
if(NOT GLYPHDOCK_GTEST_SOURCE)
  message(FATAL_ERROR "GoogleTest's sources were not found: install Debian's googletest package "
                      "(make test does) or pass -DGLYPHDOCK_GTEST_SOURCE=<folder>")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GLYPHDOCK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The program's version, from the VERSION file at the top of the tree: every build and
# package takes it from there. Sets GLYPHDOCK_VERSION ("0.70") and its two numbers,
# GLYPHDOCK_VERSION_MAJOR and GLYPHDOCK_VERSION_MINOR, for the version resource.
set(version_source ${CMAKE_CURRENT_LIST_DIR}/../VERSION)
file(STRINGS ${version_source} GLYPHDOCK_VERSION LIMIT_COUNT 1)
if(NOT GLYPHDOCK_VERSION MATCHES "^([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION holds \"${GLYPHDOCK_VERSION}\"; expected MAJOR.MINOR, e.g. 0.70")
endif()
set(GLYPHDOCK_VERSION_MAJOR ${CMAKE_MATCH_1})
math(EXPR GLYPHDOCK_VERSION_MINOR "${CMAKE_MATCH_2}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${version_source})

# The program's version, from the version resource (src/ui/resources.rc): every build and
# package takes it from there. Sets GLYPHDOCK_VERSION.
set(version_source ${CMAKE_CURRENT_LIST_DIR}/../src/ui/resources.rc)
file(STRINGS ${version_source} version_line REGEX "\"ProductVersion\"")
string(REGEX REPLACE ".*\"ProductVersion\", \"([^\"]*)\".*" "\\1" GLYPHDOCK_VERSION "${version_line}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${version_source})

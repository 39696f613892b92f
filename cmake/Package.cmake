# The Debian package, built by CPack's DEB generator: `make package` in the
# top folder configures a build of its own for it (Debian's compiler flags,
# no tests) and names the result tcdemux_VERSION_ARCH.deb. The libraries it
# needs are found by dpkg-shlibdeps.
if(NOT UNIX OR APPLE)
  return()
endif()

# The version the programs report, which the package carries too.
set(TCDEMUX_PACKAGE_VERSION "1.00")
set(TCDEMUX_PACKAGE_MAINTAINER "tcdemux developers <tcdemux@example.org>" CACHE STRING
    "Maintainer named in the Debian package (and its changelog)")

# Debian wants a copyright file and the changelog in the package's doc
# folder; a plain `cmake --install` does without them.
option(TCDEMUX_DEBIAN_DOCS "Install the Debian copyright file and changelog" OFF)
if(TCDEMUX_DEBIAN_DOCS)
  set(_changelog ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/debian
    COMMAND ${TCDEMUX_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    COMMENT "Compressing the Debian changelog")
  add_custom_target(tcdemux_debian_changelog ALL DEPENDS ${_changelog})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_changelog}
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tcdemux)
set(CPACK_PACKAGE_VERSION ${TCDEMUX_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${TCDEMUX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Matroska timecodes demuxer: VFR MKV to AVI plus timecodes")
set(CPACK_PACKAGE_DESCRIPTION
    "Variable-frame-rate video in a Matroska (MKV) or WebM file keeps the real
timing of every frame; an AVI file cannot. tcdemux takes the video out of
such a file into an AVI file and writes the frame times beside it in a
timecodes text file (timecode format v2), so nothing of the timing is lost.
.
The window proposes the output names and starts the demux tool, which is
also available on its own as tcdemux-mp.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The face the Demux button's Chinese font name is given when it is missing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

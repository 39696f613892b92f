# Install rules for a Linux desktop (GNU install directories):
#   lib/tcdemux/tcdemux, lib/tcdemux/mp.exe   the window and its tool side by
#                                             side, as in the build folder
#   bin/tcdemux, bin/tcdemux-mp               relative links to them
#   share/man/man1/tcdemux.1.gz, tcdemux-mp.1.gz
#   share/applications/tcdemux.desktop
#   share/metainfo/io.github.tcdemux.tcdemux.metainfo.xml
#   share/icons/hicolor/{16..256}/apps/tcdemux.png, scalable/apps/tcdemux.svg
# The window finds its tool in its own folder: the kernel resolves the link
# on PATH, so the program's folder is lib/tcdemux.
if(NOT UNIX OR APPLE)
  return()
endif()
include(GNUInstallDirs)

set(TCDEMUX_INSTALL_PKGLIBDIR "lib/tcdemux" CACHE STRING
    "Private folder of the window and its tool, relative to the prefix")
# The demux tool on PATH: its Windows-style name would be out of place there.
set(TCDEMUX_TOOL_COMMAND tcdemux-mp)

install(TARGETS tcdemux RUNTIME DESTINATION ${TCDEMUX_INSTALL_PKGLIBDIR})
if(TARGET mp)
  install(TARGETS mp RUNTIME DESTINATION ${TCDEMUX_INSTALL_PKGLIBDIR})
endif()

# The links on PATH, made in the build tree and installed as links.
set(_tcdemux_links ${CMAKE_CURRENT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_tcdemux_links})
foreach(_pair "tcdemux=tcdemux" "${TCDEMUX_TOOL_COMMAND}=mp.exe")
  string(REPLACE "=" ";" _pair "${_pair}")
  list(GET _pair 0 _link)
  list(GET _pair 1 _program)
  file(RELATIVE_PATH _target "/${CMAKE_INSTALL_BINDIR}" "/${TCDEMUX_INSTALL_PKGLIBDIR}/${_program}")
  file(CREATE_LINK ${_target} ${_tcdemux_links}/${_link} SYMBOLIC)
  install(FILES ${_tcdemux_links}/${_link} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Manual pages, compressed as Debian wants them (no name or time stamp in the
# gzip header, so the package is reproducible).
find_program(TCDEMUX_GZIP gzip REQUIRED)
set(_tcdemux_manuals "")
foreach(_page tcdemux.1 ${TCDEMUX_TOOL_COMMAND}.1)
  set(_gz ${CMAKE_CURRENT_BINARY_DIR}/man/${_page}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${TCDEMUX_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/doc/${_page} > ${_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/${_page}
    COMMENT "Compressing the manual page ${_page}")
  list(APPEND _tcdemux_manuals ${_gz})
endforeach()
add_custom_target(tcdemux_manuals ALL DEPENDS ${_tcdemux_manuals})
install(FILES ${_tcdemux_manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(_tcdemux_linux ${PROJECT_SOURCE_DIR}/resources/linux)
install(FILES ${_tcdemux_linux}/tcdemux.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_tcdemux_linux}/io.github.tcdemux.tcdemux.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(_size 16 22 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tcdemux-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME tcdemux.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tcdemux.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

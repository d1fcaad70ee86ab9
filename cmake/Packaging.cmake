# Installation and packages. Only the converter is installed, with its manual page and texts:
# no libraries, tools or test programs.
#
#   cmake --install <build> [--prefix <dir>]   Linux: bin/traxcon, share/man/man1/traxcon.1,
#                                              share/doc/traxcon/README.md and CHANGELOG.md
#   cmake --build <build> --target package     Linux: traxcon_<version>_<arch>.deb (CPack DEB)
#                                              Windows: traxcon-<version>-win64.zip (CPack ZIP)
#
# `make package` builds both packages into build-pkg/ (see the Makefile).
include(GNUInstallDirs)

# The manual page, with the version of project().
configure_file(${PROJECT_SOURCE_DIR}/doc/traxcon.1.in ${PROJECT_BINARY_DIR}/doc/traxcon.1 @ONLY)

set(TRAXCON_MAINTAINER "TRAXCON development team <traxcon@example.org>"
    CACHE STRING "Maintainer named in the packages: name <address>")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "TRAXCON development team")
set(CPACK_PACKAGE_CONTACT ${TRAXCON_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip unpacks into one folder traxcon-<version>-win64 with traxcon.exe, the manual as plain
  # text, README and CHANGELOG, the texts with CR LF line ends for Windows editors.
  install(TARGETS traxcon RUNTIME DESTINATION . COMPONENT traxcon)
  set(win_texts ${PROJECT_BINARY_DIR}/windows-texts)
  set(texts)
  foreach(name README CHANGELOG)
    add_custom_command(OUTPUT ${win_texts}/${name}.txt
                       COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${name}.md
                               -DOUT=${win_texts}/${name}.txt
                               -P ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
                       DEPENDS ${PROJECT_SOURCE_DIR}/${name}.md
                               ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
                       VERBATIM)
    list(APPEND texts ${win_texts}/${name}.txt)
  endforeach()
  find_program(TRAXCON_GROFF groff)
  if(TRAXCON_GROFF)
    add_custom_command(OUTPUT ${win_texts}/traxcon-manual.txt
                       COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_BINARY_DIR}/doc/traxcon.1
                               -DOUT=${win_texts}/traxcon-manual.txt -DGROFF=${TRAXCON_GROFF}
                               -P ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
                       DEPENDS ${PROJECT_BINARY_DIR}/doc/traxcon.1
                               ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake
                       VERBATIM)
    list(APPEND texts ${win_texts}/traxcon-manual.txt)
  else()
    message(WARNING "groff not found (Debian package groff-base): the Windows zip will have no "
                    "manual")
  endif()
  add_custom_target(windows_texts ALL DEPENDS ${texts})
  install(FILES ${texts} DESTINATION . COMPONENT traxcon)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(TARGETS traxcon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT traxcon)
  install(FILES ${PROJECT_BINARY_DIR}/doc/traxcon.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT traxcon)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT traxcon)

  # The Debian package traxcon_<version>_<arch>.deb: files below /usr, the manual page gzipped,
  # Depends worked out by dpkg-shlibdeps (Debian package dpkg-dev) from the libraries the binary
  # links (libc, libgcc_s, libstdc++).
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TRAXCON_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The extended description; CPack puts the summary (CPACK_PACKAGE_DESCRIPTION_SUMMARY) above.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "traxcon reads a measurement file in the MDF format, versions 2.xx and 3.xx,
whose channels are recorded in groups with their own time channels and
sampling rates, and writes one ADF text table: the value channels of all
groups side by side on one common time axis, interpolated linearly between
the samples of each group. Unsorted MDF files are sorted on the way.")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-man-gzip.cmake)
endif()

include(CPack)

# What `cmake --install` puts in place and what `cpack` packs: tarnwick-cli
# with its man page (a .deb from the native build), and on Windows the two
# programs side by side in a .zip. scripts/package.sh runs both.
include(GNUInstallDirs)
# `cmake --install` and cpack need only what they install; scripts/package.sh
# builds those targets first instead of the whole tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

if(TARNWICK_WINDOWS)
  set(tarnwick_programs tarnwick-cli)
  if(TARGET Tarnwick)
    list(APPEND tarnwick_programs Tarnwick)
  endif()
  # Flat: both programs at the top of the archive.
  install(TARGETS ${tarnwick_programs} RUNTIME DESTINATION .)
  # Only the command line is stripped here: Tarnwick.exe was stripped by its
  # own post-link step before its crash tables were appended, and stripping
  # it again would cut them off.
  set(CPACK_STRIP_FILES tarnwick-cli.exe)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  install(TARGETS tarnwick-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/tarnwick-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The server's units name /usr/bin/tarnwick-cli: they are for the .deb,
  # whose prefix is /usr; installed, not enabled.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/tarnwick-serve.service
                ${PROJECT_SOURCE_DIR}/packaging/tarnwick-serve.socket DESTINATION lib/systemd/system)
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES TRUE)
  set(CPACK_PACKAGE_NAME tarnwick-cli)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnwick developers <tarnwick@example.invalid>")
endif()

set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TFTP transfers of configuration files and firmware for network equipment")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tarnwick)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Only what the lines above install (no test framework).
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)

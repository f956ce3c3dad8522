# Installation and packages. `cmake --install` puts the executable, the manual page and the
# documents in place; CPack makes a Debian package of a Linux build and a zip of a Windows build
# (tools/package.sh builds each with one command).
include(GNUInstallDirs)

set(CORVANE_MAINTAINER "The Corvane developers <corvane@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")

if(WIN32)
  # The zip holds one folder to unpack anywhere: Corvane.exe, which makes Corvane.ini beside
  # itself, with the README and the licence.
  install(TARGETS corvane RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  # A document stamped with the version and compressed as Debian installs them (-n: no name or
  # time stamp inside, so that the same text gives the same bytes), as <name>.gz in the build tree.
  function(corvane_stamped_document source name)
    configure_file(${source} ${name} @ONLY)
    add_custom_command(OUTPUT ${name}.gz
      COMMAND gzip -9n -c ${name} > ${name}.gz
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${name})
    add_custom_target(corvane_${name} ALL DEPENDS ${name}.gz)
  endfunction()
  corvane_stamped_document(doc/corvane.1.in corvane.1)
  # Debian's changelog of the package, which a package without one would lack.
  corvane_stamped_document(doc/changelog.in changelog)

  install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/corvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian's name for the licence, where dpkg and lintian look for it.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_CONTACT "${CORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "timing repair for MPEG-2 transport stream recordings")
set(CPACK_PACKAGE_DESCRIPTION "\
Corvane repairs the timing of MPEG-2 transport stream recordings of Japanese
digital broadcasting. It writes a file of the same length, with the same
packets in the same order, in which every PCR, PTS and DTS lies on one clean
timeline starting at one hour.

Jumps of the source clock of more than 10 seconds are joined, so that
players and editors see one continuous programme; wraps of the 33-bit clock
are followed, caption timestamps are rebased, and every continuity counter
is renumbered. It works in constant memory at about the speed of a file
copy, and also between pipes.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Corvane-${PROJECT_VERSION}-win64)
else()
  # lintian reports no error and no warning (tools/check.sh fails on either). It gives two
  # notes, kept on purpose:
  # - extra-license-file: LICENSE is installed beside Debian's copyright, which holds the same
  #   text, so that every installation has the licence under its usual name;
  # - binary-has-unneeded-section .comment: the compiler's version string, which the strip that
  #   CPack runs keeps; it costs some bytes and nothing else.
  set(CPACK_GENERATOR DEB)
  # corvane_1.0.0_amd64.deb, with the architecture that dpkg --print-architecture gives, or for a
  # cross build the one dpkg names for its target (arm64 for aarch64-linux-gnu).
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
      OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# Installation and packaging, included at the end of the top-level CMakeLists.txt.
#
# `cmake --install` puts the program in bin/, the manual page in share/man/man1/
# and README.md, docs/*.md and the copyright in share/doc/razadedezuzev/, all
# below CMAKE_INSTALL_PREFIX. CPack builds the Debian package from the same
# rules (scripts/package.sh); a Windows build installs the program and the
# documentation and packs them as a zip file.

include(GNUInstallDirs)

install(TARGETS razadedezuzev RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md"
        PATTERN "TEAM_NOTES.md" EXCLUDE)  # notes for the developers

if(NOT WIN32)
  # The manual page is installed compressed, as man(1) and Debian expect.
  find_program(RAZADEDEZUZEV_GZIP gzip)
  set(man_source ${PROJECT_SOURCE_DIR}/docs/razadedezuzev.1)
  if(RAZADEDEZUZEV_GZIP)
    set(man_page ${PROJECT_BINARY_DIR}/man/razadedezuzev.1.gz)
    add_custom_command(
      OUTPUT ${man_page}
      COMMAND ${CMAKE_COMMAND} -E copy ${man_source} ${PROJECT_BINARY_DIR}/man/razadedezuzev.1
      COMMAND ${RAZADEDEZUZEV_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/razadedezuzev.1
      DEPENDS ${man_source}
      COMMENT "Compressing the manual page"
      VERBATIM)
    add_custom_target(razadedezuzev_man ALL DEPENDS ${man_page})
  else()
    set(man_page ${man_source})
  endif()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The package.
set(CPACK_PACKAGE_NAME razadedezuzev)
set(CPACK_PACKAGE_VENDOR "razadedezuzev developers")
set(CPACK_PACKAGE_CONTACT "razadedezuzev developers <razadedezuzev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch file utility for a server's private file store")
set(CPACK_PACKAGE_DESCRIPTION
    "razadedezuzev is started by a server application as a child process, once per
batch of work described in a tab-separated job file. Its nine modes copy files
into a private file store, where files are named by uuid in directories
derived from the uuid, and back out of it, test which files exist, list
directory trees, and list or extract the entries of zip archives. Results
go to <job>.out, diagnostics to <job>.err, and the exit code tells success
from failure.

The program never overwrites a file, and a file it stores or copies appears
under its name only when it is whole and on the disk. Zip archives are read
through the 7-Zip engine of p7zip-full, loaded at run time.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

# Debian: razadedezuzev_<version>-1_<architecture>.deb, installed below /usr.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libc, libstdc++, libgcc and OpenSSL's libcrypto (libssl3) come from
# dpkg-shlibdeps. The zip modes load the 7-Zip engine (/usr/lib/p7zip/7z.so)
# at run time and take only engines of 7-Zip 23 or later, which p7zip-full
# carries from 16.02+really23 on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "p7zip-full (>= 16.02+really23)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The Debian changelog goes into the package only, not into `cmake --install`.
if(NOT WIN32)
  set(CPACK_RAZADEDEZUZEV_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog.Debian)
  set(CPACK_RAZADEDEZUZEV_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_INSTALL_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageChangelog.cmake)
endif()

include(CPack)

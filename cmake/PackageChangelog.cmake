# Run by CPack while it stages the Debian package (CPACK_INSTALL_SCRIPTS):
# adds the Debian changelog, compressed as Debian wants it, to the package's
# documentation. `cmake --install` does not install it.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(docdir "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_RAZADEDEZUZEV_DOCDIR}")
file(MAKE_DIRECTORY "${docdir}")
execute_process(COMMAND gzip -9nc "${CPACK_RAZADEDEZUZEV_CHANGELOG}"
                OUTPUT_FILE "${docdir}/changelog.Debian.gz"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not compress ${CPACK_RAZADEDEZUZEV_CHANGELOG}")
endif()

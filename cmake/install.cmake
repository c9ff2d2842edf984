# Installation (`cmake --install build --prefix P`) and the Debian package
# (`cpack -G DEB` in the build folder).
include(GNUInstallDirs)

# The manual page ships compressed, as Debian expects; gzip -n keeps the
# bytes independent of the build time.
set(POSTRUNNER_MAN_SOURCE ${PROJECT_SOURCE_DIR}/doc/postrunner.1)
set(POSTRUNNER_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/postrunner.1.gz)
add_custom_command(
  OUTPUT ${POSTRUNNER_MAN_GZ}
  COMMAND gzip -9 -n -c ${POSTRUNNER_MAN_SOURCE} > ${POSTRUNNER_MAN_GZ}
  DEPENDS ${POSTRUNNER_MAN_SOURCE}
  VERBATIM)
set(POSTRUNNER_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${POSTRUNNER_CHANGELOG_GZ}
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${POSTRUNNER_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(postrunner_docs ALL DEPENDS ${POSTRUNNER_MAN_GZ} ${POSTRUNNER_CHANGELOG_GZ})

install(TARGETS postrunner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${POSTRUNNER_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# One preset sample per file the program reads: the machine's (copied to
# /etc/postrunner/registry.reg) and a user's (~/.config/postrunner/).
install(FILES ${PROJECT_SOURCE_DIR}/doc/machine-registry.reg.sample
              ${PROJECT_SOURCE_DIR}/doc/user-registry.reg.sample
              ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${POSTRUNNER_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME postrunner)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "postrunner developers <postrunner@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "postrunner delivers one file, or a whole folder packed into a ZIP archive, to
somebody else with no user interaction, from scripts and scheduled jobs. It
mails the file through an SMTP server (STARTTLS, TLS, AUTH), cutting big files
into message/partial pieces that its join mode rebuilds, or uploads it by FTP,
FTPS or SFTP. Its exit code and output can be trusted by scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Linked libraries are found by dpkg-shlibdeps; libcurl (FTP, FTPS, SFTP) and
# libssl (TLS mail) are loaded at run time, so they are declared by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libssl3")
# The package makes /etc/postrunner, empty, where the machine presets go; no
# registry.reg ships, since one would hold nothing but presets to override.
# Made in the staging tree, so that `cmake --install` never writes to /etc.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_etc.cmake)
include(CPack)

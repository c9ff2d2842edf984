# Run by CPack on its staging tree before the package is made: the empty
# folder /etc/postrunner for the machine presets.
file(MAKE_DIRECTORY ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/etc/postrunner)

# The Debian package: "cpack" in a build folder (release preset) makes
# kvsetup_<version>_<arch>.deb from everything the folders install (kvsetup,
# kvsim, and any program a folder adds with its own install rule). The
# library dependencies are found by dpkg-shlibdeps from the Debian packages
# the build linked against; the fonts the layout is measured with come on top.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvsetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnel Kft.")
set(CPACK_PACKAGE_CONTACT "Varnel Kft.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup and calibration tool for KV5510 / KV7730 temperature transmitters")
set(CPACK_PACKAGE_DESCRIPTION
    "Watches, sets up and calibrates one KV5510 or KV7730 transmitter on a serial port; kvsim is a simulated transmitter on a pseudo-terminal for trying it without a device.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")
include(CPack)

# Debian package through CPack: ferryd_<version>_<arch>.deb for the build's target, with the
# library dependencies computed by dpkg-shlibdeps at packaging time (cmake/FerrydDepends.cmake),
# the configuration as a conffile and maintainer scripts that create the system user and enable
# the unit.
if(NOT FERRYD_DEB_ARCH)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE FERRYD_DEB_ARCH
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferryd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ferryd developers <ferryd@qmx-board.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "relay between a UDP message broker and a Bluetooth peer")
set(CPACK_PACKAGE_DESCRIPTION
  "ferryd runs on a board with a serial Bluetooth module. It relays messages\n\
between a local UDP message broker and a Bluetooth peer reached through the\n\
module (HDLC-framed segments in bypass mode), runs the Bluetooth link's states\n\
over the module's AT commands, and drives the Bluetooth LEDs, the pairing\n\
button and the module's reset line through a GPIO character device.\n\
ferrycat, either end of the relay (the broker on the board, the Bluetooth\n\
peer on a serial device), is for trying the daemon out and making test input.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${FERRYD_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qmx-board.org/ferryd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/cmake/deb/conffiles
  ${CMAKE_SOURCE_DIR}/cmake/deb/postinst
  ${CMAKE_SOURCE_DIR}/cmake/deb/prerm
  ${CMAKE_SOURCE_DIR}/cmake/deb/postrm)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

# Read at packaging time by cmake/FerrydDepends.cmake.
set(CPACK_FERRYD_PROGRAMS ${CMAKE_BINARY_DIR}/main/ferryd ${CMAKE_BINARY_DIR}/ferrycat/ferrycat)
set(CPACK_FERRYD_STATIC_DEPENDS "adduser, init-system-helpers (>= 1.52)")
set(CPACK_FERRYD_TRIPLET "${CMAKE_LIBRARY_ARCHITECTURE}")
if(CMAKE_CROSSCOMPILING)
  set(CPACK_FERRYD_TREE "${FERRYD_TARGET_TREE}")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/FerrydDepends.cmake)

include(CPack)

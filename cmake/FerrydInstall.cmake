# Install rules: the daemon in sbin/, ferrycat in bin/, the example configuration as /etc/qmx/ferryd.conf (the
# path the daemon reads by default, whatever the prefix), the systemd unit in the system unit
# folder, and the documentation.
include(GNUInstallDirs)
# Installing and packaging need the two programs only, not every test program.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(FERRYD_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH
  "Folder for the systemd unit (Debian 12: /lib/systemd/system)")

install(TARGETS ferryd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS ferrycat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES etc/ferryd.conf DESTINATION /etc/qmx)

# The shipped unit starts /usr/sbin/ferryd; installed under another prefix (known only at install
# time: cmake --install --prefix), the copy names that prefix's sbin.
install(CODE "
  set(unit_dir \"\$ENV{DESTDIR}${FERRYD_SYSTEMD_UNIT_DIR}\")
  file(READ \"${CMAKE_SOURCE_DIR}/etc/ferryd.service\" unit_text)
  string(REPLACE \"ExecStart=/usr/sbin/ferryd \"
    \"ExecStart=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/ferryd \" unit_text \"\${unit_text}\")
  message(STATUS \"Installing: \${unit_dir}/ferryd.service\")
  file(MAKE_DIRECTORY \"\${unit_dir}\")
  file(WRITE \"\${unit_dir}/ferryd.service\" \"\${unit_text}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit_dir}/ferryd.service\")
")

# Debian wants a compressed changelog and the copyright next to the documentation.
configure_file(cmake/deb/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/changelog)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/ferryd.8.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/ferryd.8 > ${CMAKE_BINARY_DIR}/ferryd.8.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/ferryd.8)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/ferrycat.1.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/ferrycat.1 > ${CMAKE_BINARY_DIR}/ferrycat.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/ferrycat.1)
add_custom_target(ferryd-changelog ALL
  DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_BINARY_DIR}/ferryd.8.gz
  ${CMAKE_BINARY_DIR}/ferrycat.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/ferryd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_BINARY_DIR}/ferrycat.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/wire-format.md docs/serial-trace.md cmake/deb/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Wireshark dissector where Debian's Wireshark looks for every user's Lua plugins: the
# architecture's own folder (/usr/lib/<triplet>/wireshark/plugins; tshark -G folders).
if(CMAKE_LIBRARY_ARCHITECTURE)
  install(FILES wireshark/ferryd.lua DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  message(WARNING "No multiarch triplet known: the Wireshark dissector is not installed")
endif()

# Installs the build into a staging folder (DESTDIR, prefix /usr) and checks that the daemon,
# ferrycat, the configuration, the unit and the documentation land at their places.
# cmake -DBUILD_DIR=<build> -DSTAGE=<folder> -DSOURCE_DIR=<source> -P install_check.cmake
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
    ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(sorted_expected
  usr/sbin/ferryd
  usr/bin/ferrycat
  etc/qmx/ferryd.conf
  lib/systemd/system/ferryd.service
  usr/share/doc/ferryd/README.md
  usr/share/doc/ferryd/copyright
  usr/share/doc/ferryd/changelog.gz
  usr/share/man/man8/ferryd.8.gz
  usr/share/man/man1/ferrycat.1.gz)
file(GLOB_RECURSE found RELATIVE ${STAGE} ${STAGE}/*)
list(SORT found)
list(APPEND sorted_expected usr/share/doc/ferryd/wire-format.md usr/share/doc/ferryd/serial-trace.md)
# The dissector goes to the architecture's Wireshark plugin folder.
file(GLOB dissector RELATIVE ${STAGE} ${STAGE}/usr/lib/*/wireshark/plugins/ferryd.lua)
list(LENGTH dissector dissectors)
if(NOT dissectors EQUAL 1)
  message(FATAL_ERROR "no usr/lib/<triplet>/wireshark/plugins/ferryd.lua: ${dissector}")
endif()
list(APPEND sorted_expected ${dissector})
list(SORT sorted_expected)
if(NOT found STREQUAL sorted_expected)
  message(FATAL_ERROR "installed files:\n  ${found}\nexpected:\n  ${sorted_expected}")
endif()

foreach(program usr/sbin/ferryd usr/bin/ferrycat)
  execute_process(COMMAND test -x ${STAGE}/${program} RESULT_VARIABLE not_executable)
  file(READ ${STAGE}/${program} magic LIMIT 4 HEX)
  if(not_executable OR NOT magic STREQUAL "7f454c46")
    message(FATAL_ERROR "${program} is not an executable ELF program")
  endif()
endforeach()
# The configuration and the unit are the shipped files, byte for byte.
foreach(pair "etc/qmx/ferryd.conf=etc/ferryd.conf" "lib/systemd/system/ferryd.service=etc/ferryd.service")
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 installed)
  list(GET pair 1 shipped)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${STAGE}/${installed} ${SOURCE_DIR}/${shipped}
    RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${installed} differs from ${shipped}")
  endif()
endforeach()
file(STRINGS ${STAGE}/lib/systemd/system/ferryd.service exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=/usr/sbin/ferryd /etc/qmx/ferryd.conf")
  message(FATAL_ERROR "unit starts '${exec}'")
endif()
file(REMOVE_RECURSE ${STAGE})

# CPack project configuration: computes the package's Depends with dpkg-shlibdeps from the
# libraries the programs (ferryd, ferrycat) link and the symbols they use. For a cross build the target's libraries and
# their symbols/shlibs files come from the target library tree (each package unpacked with its
# control files next to the tree, see scripts/target-tree.sh).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(work ${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps)
file(REMOVE_RECURSE ${work})
file(WRITE ${work}/debian/control "Source: ferryd\n\nPackage: ferryd\nArchitecture: any\n")
set(args -O)
set(env)
if(CPACK_FERRYD_TREE)
  get_filename_component(pkgs ${CPACK_FERRYD_TREE}/../pkgs ABSOLUTE)
  file(GLOB pkg_dirs LIST_DIRECTORIES true ${pkgs}/*)
  foreach(dir ${pkg_dirs})
    list(APPEND args -S${dir})
  endforeach()
  list(APPEND args -l${CPACK_FERRYD_TREE}/lib/${CPACK_FERRYD_TRIPLET}
    -l${CPACK_FERRYD_TREE}/usr/lib/${CPACK_FERRYD_TRIPLET})
  set(env ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()
execute_process(COMMAND ${env} dpkg-shlibdeps ${args} ${CPACK_FERRYD_PROGRAMS}
  WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCH "shlibs:Depends=([^\n]*)" found "${out}")
if(NOT rc EQUAL 0 OR NOT found)
  message(FATAL_ERROR "dpkg-shlibdeps failed (${rc}): ${err}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, ${CPACK_FERRYD_STATIC_DEPENDS}")
message(STATUS "ferryd Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")

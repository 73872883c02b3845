# Common part of the Debian cross toolchain files. The caller sets FERRYD_DEB_ARCH,
# FERRYD_TRIPLET, CMAKE_SYSTEM_PROCESSOR and FERRYD_QEMU.
#
# The compiler brings its own C library headers and start files; everything else (log4cpp, and
# for the tests GoogleTest, umockdev, glib, libfaketime) comes from the target library tree, a
# folder holding Debian's target packages unpacked. pkg-config only looks into the tree. Test
# programs run under qemu-user with the tree as the target's root, so the dynamic loader, libc and
# every library come from the same Debian packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${FERRYD_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${FERRYD_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${FERRYD_TRIPLET})

get_filename_component(_ferryd_default_tree
  "${CMAKE_CURRENT_LIST_DIR}/../build/cross/${FERRYD_DEB_ARCH}/tree" ABSOLUTE)
set(FERRYD_TARGET_TREE "${_ferryd_default_tree}" CACHE PATH
  "Target library tree (Debian ${FERRYD_DEB_ARCH} packages unpacked)")
# try_compile projects see only the variables named here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FERRYD_TARGET_TREE)
if(NOT EXISTS "${FERRYD_TARGET_TREE}/usr/lib/${FERRYD_TRIPLET}")
  message(FATAL_ERROR "No target library tree at ${FERRYD_TARGET_TREE}: "
    "run scripts/target-tree.sh ${FERRYD_DEB_ARCH}")
endif()

set(CMAKE_FIND_ROOT_PATH "${FERRYD_TARGET_TREE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR}
  "${FERRYD_TARGET_TREE}/usr/lib/${FERRYD_TRIPLET}/pkgconfig:${FERRYD_TARGET_TREE}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${FERRYD_TARGET_TREE}")
unset(ENV{PKG_CONFIG_PATH})

# The tree's libraries need further libraries of the tree at link time.
set(_ferryd_link_dirs "${FERRYD_TARGET_TREE}/lib/${FERRYD_TRIPLET}:${FERRYD_TARGET_TREE}/usr/lib/${FERRYD_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_ferryd_link_dirs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_ferryd_link_dirs}")
# No build-machine path in the binaries.
set(CMAKE_SKIP_BUILD_RPATH ON)

find_program(FERRYD_QEMU_PATH ${FERRYD_QEMU})
if(FERRYD_QEMU_PATH)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${FERRYD_QEMU_PATH};-L;${FERRYD_TARGET_TREE}")
endif()

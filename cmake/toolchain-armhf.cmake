# Cross build for 32-bit ARM boards (Debian armhf: ARMv7, hard-float ABI) with Debian's
# g++-arm-linux-gnueabihf. Libraries come from build/cross/armhf/tree (scripts/target-tree.sh).
set(FERRYD_DEB_ARCH armhf)
set(FERRYD_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(FERRYD_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)

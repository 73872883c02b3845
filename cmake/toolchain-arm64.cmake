# Cross build for 64-bit ARM boards (Debian arm64: AArch64) with Debian's g++-aarch64-linux-gnu.
# Libraries come from build/cross/arm64/tree (scripts/target-tree.sh).
set(FERRYD_DEB_ARCH arm64)
set(FERRYD_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(FERRYD_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)

# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross-arm64.cmake: a 64-bit Raspberry Pi OS / Debian arm64 build.
set(VARNEL_CROSS_TRIPLET aarch64-linux-gnu)
set(VARNEL_CROSS_PROCESSOR aarch64)
set(VARNEL_CROSS_QEMU qemu-aarch64)
set(VARNEL_CROSS_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

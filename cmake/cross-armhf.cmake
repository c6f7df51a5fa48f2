# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross-armhf.cmake: a 32-bit Raspberry Pi OS / Debian armhf build.
set(VARNEL_CROSS_TRIPLET arm-linux-gnueabihf)
set(VARNEL_CROSS_PROCESSOR armv7l)
set(VARNEL_CROSS_QEMU qemu-arm)
set(VARNEL_CROSS_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# Cross builds on Debian with its multiarch packages: the cross compiler from
# crossbuild-essential-<arch>, the target's libraries and CMake files installed as
# <package>:<arch> under /usr/lib/<triplet>, Qt's moc and friends from this machine
# (qt6-base-dev-tools), and the target's executables run under qemu-user.
# Included by cross-<arch>.cmake, which sets VARNEL_CROSS_TRIPLET, VARNEL_CROSS_PROCESSOR
# and VARNEL_CROSS_QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VARNEL_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${VARNEL_CROSS_TRIPLET})
set(CMAKE_C_COMPILER ${VARNEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNEL_CROSS_TRIPLET}-g++)

# No sysroot: CMake packages and libraries are looked up under /usr/lib/<triplet>
# (CMAKE_LIBRARY_ARCHITECTURE), pkg-config files there only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VARNEL_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# Qt's build tools are this machine's.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake)

# ctest and gtest_discover_tests run the target's executables under qemu, the
# target's loader and libraries found under the cross tool chain's root first, then
# in the multiarch directories.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEL_CROSS_QEMU};-L;/usr/${VARNEL_CROSS_TRIPLET})

# dpkg-shlibdeps reads the target's shlibs files (installed with the :<arch> packages).
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VARNEL_CROSS_DEB_ARCH})

# Cross-compiling for 64-bit ARM (aarch64) with Debian's cross toolchain
# (crossbuild-essential-arm64) and arm64 libraries installed multiarch
# (libgtest-dev:arm64, libedit-dev:arm64, libstdc++6:arm64). The binaries
# run here under qemu-user: CTest and gtest_discover_tests start them through
# the emulator, and the children they start (the daemon, the tools) go
# through binfmt_misc. They find the arm64 loader and libraries where
# multiarch puts them (/lib/ld-linux-aarch64.so.1, /usr/lib/aarch64-linux-gnu),
# so qemu needs no -L: a -L root of the cross toolchain's own libc beside
# the multiarch libraries made programs hang at start.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# pkg-config finds the arm64 libraries' .pc files, not the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

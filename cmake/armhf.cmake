# Cross build for the board's 32-bit ARM (hard float) with Debian's cross
# toolchain and multiarch libraries (dpkg --add-architecture armhf; the :armhf
# -dev packages; scripts/cross-test installs them). Programs and tests run
# under qemu-arm. It is run without -L, so that it takes the loader and C
# library of libc6:armhf, with which threads, fork and popen work.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# The target's libraries live in the multiarch folders of this machine's own
# root; tools that run during the build (protoc) are this machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Everything is built by this one compiler, so GCC 7.1's change in how some
# arguments are passed on ARM concerns nothing here; its notes are noise.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# Static build for the board's 32-bit ARM with its own C library, musl: the
# compiler wrappers and libraries scripts/musl-deps built, in the folder it
# printed (WEBSERVICES_MUSL_PREFIX, from the environment or the cache).
# Programs and tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

if(DEFINED ENV{WEBSERVICES_MUSL_PREFIX})
  set(WEBSERVICES_MUSL_PREFIX "$ENV{WEBSERVICES_MUSL_PREFIX}" CACHE PATH "Libraries built by scripts/musl-deps" FORCE)
endif()
if(NOT WEBSERVICES_MUSL_PREFIX)
  message(FATAL_ERROR "cmake/armhf-musl.cmake: set WEBSERVICES_MUSL_PREFIX to the folder scripts/musl-deps prints")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WEBSERVICES_MUSL_PREFIX)
set(prefix ${WEBSERVICES_MUSL_PREFIX})

# The wrappers carry the target and its CPU flags (ARMv7-A, VFPv3-D16, no NEON).
set(CMAKE_C_COMPILER ${prefix}/bin/arm-linux-musleabihf-cc)
set(CMAKE_CXX_COMPILER ${prefix}/bin/arm-linux-musleabihf-c++)
set(CMAKE_AR ${prefix}/bin/arm-linux-musleabihf-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${prefix}/bin/arm-linux-musleabihf-ranlib CACHE FILEPATH "")
# The qemu-arm CPU model: an ARMv7-A core with VFPv3 (no fused multiply-add,
# unlike the Cortex-A7's VFPv4) and no divide instruction in ARM state, with
# NEON turned off, so that an instruction past the board's baseline stops the
# test. (This qemu cannot turn off registers d16-d31: the compiler flags and
# the check in scripts/cross-test cover those.)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu cortex-a9,neon=off)

# Static programs. zig's linker writes a 16 MiB stack size into the program
# header, which musl then takes as its default for every thread; size 0 keeps
# musl's own 128 KiB, the board's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,-z,stack-size=0")

# Libraries and headers come only from the prefix; tools that run during the
# build (protoc) are this machine's.
set(CMAKE_FIND_ROOT_PATH ${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# Header-only libraries found by no find module are included as <rapidxml/...>.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${prefix}/include)
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Static libraries need the libraries they use themselves.
set(PKG_CONFIG_ARGN --static)
# Only protobuf's lite runtime is built for this target, the one the project links.
set(Protobuf_LIBRARY ${prefix}/lib/libprotobuf-lite.a CACHE FILEPATH "")

# SPDX-License-Identifier: ISC
# Shared by the toolchains that build for 32-bit little-endian MIPS against
# a C library other than Debian's glibc: Debian's mipsel-linux-gnu-gcc with
# the gcc specs that target/specs.sh wrote into VARNEL_LIBC (set before
# including), which keep every header and library of glibc out. Everything
# is linked statically; test programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
# Static and not position-independent, the calls go straight to their
# targets rather than through the global offset table (-mno-shared -mplt):
# smaller code, and the C library's objects link as they are.
set(CMAKE_C_FLAGS_INIT "-specs=${VARNEL_LIBC}/gcc.specs -fno-pie -mno-shared -mplt")
set(CMAKE_CXX_FLAGS_INIT "-specs=${VARNEL_LIBC}/gcc.specs -fno-pie -mno-shared -mplt -fno-threadsafe-statics")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -no-pie")
set(CMAKE_FIND_ROOT_PATH "${VARNEL_LIBC}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel-static)

# SPDX-License-Identifier: ISC
# The target's own C library: uClibc-ng on 32-bit little-endian MIPS, static,
# 32-bit time_t, as target/uclibc/build.sh builds it.
set(VARNEL_LIBC "${CMAKE_CURRENT_LIST_DIR}/../build/uclibc" CACHE PATH
  "Where target/uclibc/build.sh put uClibc-ng")
if(NOT EXISTS "${VARNEL_LIBC}/key")
  message(FATAL_ERROR "No uClibc-ng in ${VARNEL_LIBC}: run target/uclibc/build.sh ${VARNEL_LIBC}")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/mipsel-libc.cmake")
set(VARNEL_LIBC_HOST mipsel-linux-uclibc)

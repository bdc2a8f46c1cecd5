# SPDX-License-Identifier: ISC
# The 2038-ready build: musl 1.2 (Debian's musl-dev:mipsel) on 32-bit
# little-endian MIPS, static, 64-bit time_t, as target/musl.sh prepares it.
set(VARNEL_LIBC "${CMAKE_CURRENT_LIST_DIR}/../build/musl" CACHE PATH
  "Where target/musl.sh put the specs for musl")
if(NOT EXISTS "${VARNEL_LIBC}/gcc.specs")
  message(FATAL_ERROR "musl is not prepared in ${VARNEL_LIBC}: run target/musl.sh ${VARNEL_LIBC}")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/mipsel-libc.cmake")
set(VARNEL_LIBC_HOST mipsel-linux-musl)

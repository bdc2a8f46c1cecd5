// SPDX-License-Identifier: ISC
#pragma once

// Returns the number of bytes before the terminating NUL of s.
int str_len(const char* s);

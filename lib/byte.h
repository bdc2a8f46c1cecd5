// SPDX-License-Identifier: ISC
#pragma once

// Copies n bytes from `from` to `to`, lowest address first. The count sits
// between the two pointers so that a call reads "to, how many, from".
void byte_copy(char* to, int n, const char* from);

// Whether the n bytes at a and at b are the same.
bool byte_equal(const char* a, int n, const char* b);

// SPDX-License-Identifier: ISC
#pragma once

#include "options.h"
#include "run.h"

// NTS over the run: a key exchange with each server address before it is
// asked, then requests that carry a cookie and an authenticator, and only
// replies that the server's key vouches for.
// Its setup loads the CA files of -C (the system's bundle without) and
// takes the floor, for the rule on certificate dates.
extern const protocol nts_protocol;

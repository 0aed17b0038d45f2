// How the records of a write reach a file that exists: the rules alone, apart
// from the system, so that they can be checked by themselves.
#pragma once

#include "failures.h"
#include "system/file_calls.h"

enum class Way { kRefused, kInPlace, kThroughOutput, kThroughError, kReplace };

// How the records reach the existing file that the facts describe; `stream` is
// which of the program's own streams it is (0, 1 or 2), or -1. A refusal comes
// with its reason.
Way chooseWay(const FileFacts& facts, int stream, Reason* refusal);

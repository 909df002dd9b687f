// The argument list: entry 0 is the running executable's full file name,
// entries 1..n-1 the arguments after the program name, each as long as it
// is. Built once at start-up and never changed afterwards.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/counted_string.h"

namespace velk {

// Builds the list from the raw command line where the system keeps one, or
// else from the arguments as the system delivered them (argv with argc
// entries); entry 0 becomes the executable's own file name (at most 255
// bytes), or the first word when that cannot be had. The file name is asked
// of the system only when entry 0 is first read.
void BuildArgumentList(int argc, char** argv);

// The number of arguments after the program name: -1 when there is no word
// at all.
std::int32_t ArgumentCount();

// Entry i, or the empty string for a bad index (never an error).
CountedString ArgumentAt(std::int32_t i);

// Cuts a raw command line into words: bytes 1..32 separate words outside
// quotes; double and single quotes group and are dropped (a doubled quote
// produces nothing); there is no escape character; a zero byte ends the text.
CountedList SplitCommandLine(std::string_view raw);

}  // namespace velk

// Opening the input and output file of a file argument, with the console
// dialogue that asks for another name while a file cannot be opened.
#pragma once

#include <cstdint>

#include "runtime/bounded_string.h"
#include "runtime/text_file.h"

namespace velk {

inline constexpr std::size_t FileNameCapacity = 40;
inline constexpr std::size_t ExtensionCapacity = 4;

// Exit status of the preprocessor's own fatal stops: the usage line, the
// define limit, identical input and output names, an empty answer at a prompt.
inline constexpr std::uint8_t FatalStopStatus = 1;

using FileName = BoundedString<FileNameCapacity>;
using Extension = BoundedString<ExtensionCapacity>;

// Binds `file` to `name` and opens it for reading; while that fails, asks on
// the console for another name. An empty answer (or the end of standard
// input) ends the run with status 1.
void OpenInputFile(FileName name, TextFile& file);

// Opens the output file for the input `name`, named by NamingRule with
// `extension`; refuses (status 1) an output name equal to `name`, and asks
// for another name while the file cannot be created.
void OpenOutputFile(FileName name, const Extension& extension, TextFile& file);

// The output name for `name`: the last path component (after the last "/" or
// "\") loses everything from its first "." on, then "." and the extension
// (the extension alone when it begins with "."); cut to 40 characters.
FileName NamingRule(const FileName& name, const Extension& extension);

}  // namespace velk

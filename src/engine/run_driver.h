// The run driver: walks the command line once, left to right, and runs each
// file argument through the directive engine into its output file.
#pragma once

#include <cstdint>

#include "engine/directive_engine.h"
#include "engine/file_opening.h"
#include "runtime/text_file.h"

namespace velk {

// The state of one run: set once before the first argument, never reset
// between files.
struct RunState {
  std::int32_t ArgumentIndex = 1;
  bool ExpectExtension = false;   // the next argument is the output extension
  bool ExpectDefineName = false;  // the next argument is a symbol to define
  bool AnyFileProcessed = false;  // a file argument had both its files opened
  Extension CurrentExtension;
  TextFile InputFile;
  TextFile OutputFile;
  EngineState Engine;
};

// The program: runs the whole command line and returns on a normal end.
void RunDriver();

// Writes the usage line and ends the run with status 1.
[[noreturn]] void ShowUsage();

// Writes the define-limit line and ends the run with status 1.
[[noreturn]] void ReportTooManyDefines();

}  // namespace velk

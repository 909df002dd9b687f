#include "engine/run_driver.h"

#include <string_view>

#include "runtime/arguments.h"
#include "runtime/counted_string.h"
#include "runtime/runtime_error.h"

namespace velk {

namespace {

constinit RunState run;  // the one run of this process

constexpr std::string_view UsageLine = "usage: VELK [-E ext] [-D defname] flnm [flnm2] [flnm3] ...";
constexpr std::size_t MaxExtensionLength = 3;
constexpr std::int32_t LineCapacity = 255;  // bytes of an input line that count

void StartRun(RunState& state) {
  state.ArgumentIndex = 1;
  state.ExpectExtension = false;
  state.ExpectDefineName = false;
  state.AnyFileProcessed = false;
  state.CurrentExtension = Extension("PAS");
  ResetEngine(state.Engine);
}

// Copies the input to the output through the engine, one line at a time
// from where it lies in the input's buffer to the output's buffer. The end
// test comes after each line, so an empty input still gives one empty line.
void CopyLines(RunState& state) {
  LineClasses classes;
  bool at_end = false;
  while (!at_end) {
    const std::string_view line =
        ReadLineView(state.InputFile, LineCapacity, LineRanges(state.Engine), classes);
    CheckIo();
    const LineVerdict verdict = HandleLine(state.Engine, line, classes);
    switch (verdict.Outcome) {
      case LineOutcome::Keep:
      case LineOutcome::Replace:
        WriteLine(state.OutputFile, verdict.Head, verdict.Value, verdict.Tail);
        CheckIo();
        break;
      case LineOutcome::Dropped:
        break;
      case LineOutcome::TableFull:
        ReportTooManyDefines();
    }
    at_end = AtEndOfFile(state.InputFile);
    CheckIo();
  }
}

void ProcessFile(RunState& state, const CountedString& argument) {
  FileName name;
  CountedToBounded(argument, name);
  OpenInputFile(name, state.InputFile);
  // The output name always comes from the command line, whatever name was
  // typed at the input prompt.
  OpenOutputFile(name, state.CurrentExtension, state.OutputFile);
  state.AnyFileProcessed = true;
  CopyLines(state);
  CloseTextFile(state.InputFile);
  CheckIo();
  CloseTextFile(state.OutputFile);
  CheckIo();
}

// Options are recognised by their first two characters alone.
bool IsOption(const CountedString& argument, std::string_view lower, std::string_view upper) {
  const CountedString key = CountedSubstring(argument, 1, 2);
  return CountedCompare(key, lower) == 0 || CountedCompare(key, upper) == 0;
}

// The value of a pending option is taken first and unchanged, even when it
// looks like an option itself.
void HandleArgument(RunState& state, const CountedString& argument) {
  if (state.ExpectExtension) {
    if (argument.size() > MaxExtensionLength) {
      ShowUsage();
    }
    CountedToBounded(argument, state.CurrentExtension);
    state.ExpectExtension = false;
  } else if (state.ExpectDefineName) {
    SymbolName name;
    CountedToBounded(argument, name);
    if (AddDefine(state.Engine.Table, name, std::string_view()) == DefineOutcome::TableFull) {
      ReportTooManyDefines();
    }
    state.ExpectDefineName = false;
  } else if (IsOption(argument, "-e", "-E")) {
    state.ExpectExtension = true;
  } else if (IsOption(argument, "-d", "-D")) {
    state.ExpectDefineName = true;
  } else {
    ProcessFile(state, argument);
  }
}

}  // namespace

// Kept a routine of its own (not placed inside the start-up), so that its
// frame ends every back-trace.
[[gnu::noinline]] void RunDriver() {
  StartRun(run);
  const std::int32_t count = ArgumentCount();
  for (run.ArgumentIndex = 1; run.ArgumentIndex <= count; ++run.ArgumentIndex) {
    HandleArgument(run, ArgumentAt(run.ArgumentIndex));
  }
  if (!run.AnyFileProcessed) {
    ShowUsage();
  }
}

void ShowUsage() {
  WriteText(StandardOutput, UsageLine, 0);
  EndLine(StandardOutput);
  CheckIo();
  StopProgram(FatalStopStatus);
}

void ReportTooManyDefines() {
  WriteText(StandardOutput, "VELK: Maximum # of defines (", 0);
  WriteInteger(StandardOutput, MaxDefines, 0);
  WriteText(StandardOutput, ") exceeded.", 0);
  EndLine(StandardOutput);
  CheckIo();
  StopProgram(FatalStopStatus);
}

}  // namespace velk

#include "engine/file_opening.h"

#include <string_view>

#include "runtime/runtime_error.h"

namespace velk {

namespace {

// Writes a text around a file name on the console.
void WriteAroundName(std::string_view before, const FileName& name, std::string_view after) {
  WriteText(StandardOutput, before, 0);
  WriteText(StandardOutput, name, 0);
  WriteText(StandardOutput, after, 0);
}

// Writes a prompt without a line end; the console shows it before the
// answer is read, since standard output is written through.
void Prompt(std::string_view before, const FileName& name, std::string_view after) {
  WriteAroundName(before, name, after);
  EndWrite(StandardOutput);
  CheckIo();
}

// Reads the answer to a prompt; an empty answer, or the end of standard
// input, ends the run.
void ReadAnswer(FileName& answer) {
  ReadLine(StandardInput, answer);
  CheckIo();
  if (answer.empty()) {
    StopProgram(FatalStopStatus);
  }
}

// Where the last path component begins (0-based).
std::size_t LastComponentStart(std::string_view name) {
  const std::size_t separator = name.find_last_of("/\\");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

// Binds the channel to the name and opens it; the code of a failed open is
// taken, never checked, so it only leads to the prompt. A name with a zero
// byte in it (an answer typed at a prompt; a Windows console in code page
// 65001 gives one for every other than ASCII character) names no file: the
// system would open the part before the zero, and empty it for an output.
bool Opened(TextFile& file, const FileName& name, void (*open)(TextFile&)) {
  if (std::string_view(name).find('\0') != std::string_view::npos) {
    return false;
  }
  BindTextFile(file, name);
  open(file);
  return TakeIoError() == 0;
}

}  // namespace

void OpenInputFile(FileName name, TextFile& file) {
  FileName candidate = name;
  for (;;) {
    if (Opened(file, candidate, OpenForReading)) {
      return;
    }
    Prompt("Input file ", candidate, " cannot be opened. Enter new filename: ");
    ReadAnswer(candidate);
  }
}

FileName NamingRule(const FileName& name, const Extension& extension) {
  std::string_view stem = name;
  // Only the last component can hold the extension: directories keep their dots.
  const std::size_t start = LastComponentStart(stem);
  const std::int32_t dot = BoundedFindChar('.', Slice(stem, start));
  if (dot > 0) {
    stem = Slice(stem, 0, start + static_cast<std::size_t>(dot) - 1);
  }
  const std::string_view suffix = extension;
  const Line joined = !suffix.empty() && suffix.front() == '.'
                          ? BoundedJoin(stem, suffix)
                          : BoundedJoin(BoundedJoin(stem, "."), suffix);
  return FileName(joined);
}

void OpenOutputFile(FileName name, const Extension& extension, TextFile& file) {
  FileName candidate = name;
  for (;;) {
    candidate = NamingRule(candidate, extension);
    if (BoundedEquals(candidate, name)) {
      WriteAroundName("DUDED: Input and output filenames (", candidate, ") are same.");
      EndLine(StandardOutput);
      CheckIo();
      StopProgram(FatalStopStatus);
    }
    if (Opened(file, candidate, OpenForWriting)) {
      return;
    }
    Prompt("Output file ", candidate, " cannot be opened. Enter new file name: ");
    ReadAnswer(candidate);
  }
}

}  // namespace velk

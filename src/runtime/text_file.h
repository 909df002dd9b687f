// Text channels: line-oriented reading and writing through a buffer. The
// standard channels use the 256 bytes that are part of the record, so that
// reading an answer from standard input takes little more than the answer;
// a named file moves through a 64 KiB buffer that its channel gets once.
// After each read the reader classifies the bytes it got in one pass (see
// byte_classes.h), and a line is then read where it lies in the buffer: the
// reader hands out a view of it with its classes, valid until the next
// operation on the channel. Bytes pass unchanged;
// every line written ends with CR LF. No operation stops the program: a
// failure leaves a code in IoErrorCode, and while a code is pending most
// operations do nothing, so the check after a statement reports its first
// failure.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "runtime/bounded_string.h"
#include "runtime/byte_classes.h"
#include "runtime/platform.h"

namespace velk {

// Three distinct nonzero codes: a zero-filled record has never been bound.
enum class FileState : std::uint32_t {
  Closed = 0xD7B0,
  Reading = 0xD7B1,
  Writing = 0xD7B2,
};

inline constexpr std::int32_t TextBufferSize = 256;        // the record's own buffer
inline constexpr std::int32_t FileBufferSize = 64 * 1024;  // a named file's buffer
inline constexpr std::size_t PathSize = 256;               // 255 bytes of name and a zero byte
inline constexpr unsigned char EndOfFileMark = 26;  // Ctrl-Z ends a text before its last byte
// Room a buffer has beside its reads: a line that runs on past a read has its
// first bytes (and a CR that waits for its LF) moved in front of the next
// read, and a pass over a line may look a little past its end.
inline constexpr std::size_t BufferRoom = MaxBoundedCapacity + 1 + ReadSlack;
// Class words of a buffer: for each of its three classes, as many as the
// bytes it holds take.
inline constexpr std::size_t TextClassWords = ClassWords(TextBufferSize + BufferRoom);
inline constexpr std::size_t FileClassWords = ClassWords(FileBufferSize + BufferRoom);

// Codes set by the channels themselves; platform failures add their own.
inline constexpr std::uint16_t ShortWriteError = 101;      // a write-out was not taken whole
inline constexpr std::uint16_t NeverBoundError = 102;      // open of a never-bound record
inline constexpr std::uint16_t NotOpenError = 103;         // the channel is closed
inline constexpr std::uint16_t OpenForWritingError = 104;  // read from a writing channel
inline constexpr std::uint16_t OpenForReadingError = 105;  // write to a reading channel

// Every member starts as zeros, as in a record that was never bound; so a
// record in static storage needs no code to set it up.
struct TextFile {
  SystemHandle32 SystemHandle = 0;  // the open handle, or NoHandle
  FileState State{};                // Closed, Reading or Writing; anything else: never bound
  std::int32_t BufferCapacity = 0;  // bytes in the buffer in use: 256, or 64 KiB for a named file
  std::int32_t Cursor = 0;          // reading: next unread byte; writing: bytes waiting
  std::int32_t FillCount = 0;       // reading: valid bytes in the buffer
  bool WriteThrough = false;        // hand the buffer over after every statement
  char Path[PathSize] = {};         // the bound name, zero-terminated
  unsigned char* FileBuffer = nullptr;   // a named file's buffer while open, else null
  std::uint64_t* FileClasses = nullptr;  // the classes of its bytes, then null too
  // While open: the buffer in use (FileBuffer or the record's own) and the
  // classes of its bytes, so that a line is found without asking which.
  unsigned char* Bytes = nullptr;
  ByteClasses Bits = {};
  // Bytes a line may fill the buffer up to without a check of state or
  // write-through: BufferCapacity on a channel open for writing that is not
  // written through, else 0. Set when the channel is opened, bound or closed.
  std::int32_t WriteRoom = 0;
  ByteRanges ClassRanges;  // the ranges the buffer's bytes were classified with
  unsigned char Buffer[TextBufferSize + BufferRoom] = {};
  std::uint64_t Classes[3 * TextClassWords] = {};  // the classes of Buffer's bytes
};
static_assert(std::is_trivially_copyable_v<TextFile>);

// The code of the last failed operation, 0 when none is pending.
extern std::uint16_t IoErrorCode;

extern TextFile StandardInput;   // answers at the prompts
extern TextFile StandardOutput;  // messages and prompts, written through
extern TextFile ReportOutput;    // run-time error reports, on the same handle

// Fetches the standard handles, binds the three standard channels and clears
// IoErrorCode. Called once at start-up.
void SetUpStandardChannels();

// Binds a record (never bound, or not open) to a name of at most 255 bytes;
// the record is left Closed. An open handle it held is not released.
void BindTextFile(TextFile& file, std::string_view name);

// Binds a record to a handle that is already open (start-up only). A writing
// channel bound this way is written through.
void BindToHandle(TextFile& file, FileState state, SystemHandle32 handle);

// Opens the bound name for reading (an existing file) or for writing
// (created or emptied). An empty name means standard input or output.
void OpenForReading(TextFile& file);
void OpenForWriting(TextFile& file);

// Reads one line where it lies in the buffer, without its line end: at most
// `capacity` bytes of it, the rest of a longer line skipped. The classes of
// its bytes come along, with `ranges` as the ranges (`classes` may tell of
// bytes past the line: those of the rest of a line that was cut). The view
// and the classes are valid until the next operation on the channel; at
// the end of the input, and while a code is pending, the line is empty.
std::string_view ReadLineView(TextFile& file, std::int32_t capacity, const ByteRanges& ranges,
                              LineClasses& classes);

// Reads one line, as ReadLineView does, into `chars`. Returns the number of
// bytes taken.
std::int32_t ReadLineInto(TextFile& file, char* chars, std::int32_t capacity);

// Reads one line into target, with the target's capacity.
template <std::size_t Capacity>
void ReadLine(TextFile& file, BoundedString<Capacity>& target) {
  target.length = static_cast<std::uint8_t>(
      ReadLineInto(file, target.chars, static_cast<std::int32_t>(Capacity)));
}

// Writes text, right-aligned in `width` columns when it is shorter; a longer
// text is never cut.
void WriteText(TextFile& file, std::string_view text, std::int32_t width);

// Writes the decimal text of value in the same way.
void WriteInteger(TextFile& file, std::int32_t value, std::int32_t width);

// Ends a line with CR LF (and hands the buffer over when written through).
void EndLine(TextFile& file);

// WriteText(file, piece, 0) for each piece and then EndLine(file), in one
// step where the buffer has room for all of it.
void WriteLine(TextFile& file, std::string_view head, std::string_view middle = {},
               std::string_view tail = {});

// Ends a statement without a line end: a written-through channel hands its
// buffer over. Done even while a code is pending.
void EndWrite(TextFile& file);

// The bytes of the channel's buffer: a named file's, or the record's own
// (kept in the record from its binding on).
inline unsigned char* BufferBytes(TextFile& file) { return file.Bytes; }

// AtEndOfFile in every case: a code pending, a wrong state, the buffer used
// up (it is filled again to see whether the input goes on).
bool AtEndOfInput(TextFile& file);

// True at the end of the input and when the next byte is 26 (Ctrl-Z);
// nothing is consumed. Also true while a code is pending. After most lines
// the next byte waits in the buffer: that is looked at here.
inline bool AtEndOfFile(TextFile& file) {
  if (IoErrorCode == 0 && file.State == FileState::Reading && file.Cursor < file.FillCount) {
    return BufferBytes(file)[file.Cursor] == EndOfFileMark;
  }
  return AtEndOfInput(file);
}

// Writes out what is waiting and releases the handle (never a standard one).
void CloseTextFile(TextFile& file);

// Returns the pending code and clears it.
std::uint16_t TakeIoError();

// The code for a platform error: 19..31 become 150..162, a sharing
// violation (32) becomes 5, anything else passes through (low 16 bits).
std::uint16_t TranslateSystemError(std::uint32_t platform_error);

// Writes out, best effort, the waiting bytes of every named channel still
// open for writing. Errors are ignored and IoErrorCode is left as it was.
// Used when the process stops; safe inside a fault handler.
void FlushOpenOutputChannels();

}  // namespace velk

#include "runtime/text_file.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/byte_classes.h"

namespace velk {

std::uint16_t IoErrorCode = 0;  // the pending code, 0 when none

TextFile StandardInput{};   // bound at start-up
TextFile StandardOutput{};  // bound at start-up
TextFile ReportOutput{};    // bound at start-up

namespace {

constexpr unsigned char LineFeed = 10;
constexpr unsigned char CarriageReturn = 13;

// Named channels open now. The platform consults their handles so that no
// file is opened twice in conflicting ways, and a stop writes out the ones
// open for writing. A record must be closed (or bound anew) before it goes
// away. Each place keeps the large buffer it was given first, for every
// channel that is open there later: buffers are allocated once, not per file.
constexpr std::size_t MaxOpenChannels = 64;
TextFile* open_channels[MaxOpenChannels] = {};      // empty places are null
unsigned char* file_buffers[MaxOpenChannels] = {};  // allocated on first use
std::uint64_t* file_classes[MaxOpenChannels] = {};  // with the buffer

// Points Bytes and Bits at the buffer in use: a named file's, or the record's own.
void UseBuffer(TextFile& file) {
  std::uint64_t* words = file.FileClasses != nullptr ? file.FileClasses : file.Classes;
  const std::size_t size = file.FileClasses != nullptr ? FileClassWords : TextClassWords;
  file.Bytes = file.FileBuffer != nullptr ? file.FileBuffer : file.Buffer;
  file.Bits = ByteClasses{.Ends = words, .Words = words + size, .InRanges = words + 2 * size};
}

// Enters the file in a free place and gives it that place's buffer.
bool Register(TextFile& file) {
  for (std::size_t place = 0; place < MaxOpenChannels; ++place) {
    if (open_channels[place] == nullptr) {
      if (file_buffers[place] == nullptr) {
        file_buffers[place] = new unsigned char[FileBufferSize + BufferRoom];
        file_classes[place] = new std::uint64_t[3 * FileClassWords];
      }
      open_channels[place] = &file;
      file.FileBuffer = file_buffers[place];
      file.FileClasses = file_classes[place];
      file.BufferCapacity = FileBufferSize;
      UseBuffer(file);
      return true;
    }
  }
  return false;
}

void Unregister(TextFile& file) {
  for (TextFile*& slot : open_channels) {
    if (slot == &file) {
      slot = nullptr;
    }
  }
  file.FileBuffer = nullptr;
  file.FileClasses = nullptr;
  file.BufferCapacity = TextBufferSize;
  UseBuffer(file);
}

// The one pass over the bytes of the buffer from `from` on.
void Classify(TextFile& file, std::int32_t from) {
  const auto block_start = static_cast<std::size_t>(from) / ClassBlockSize * ClassBlockSize;
  ClassifyBytes(BufferBytes(file), block_start, static_cast<std::size_t>(file.FillCount),
                file.ClassRanges, file.Bits);
}

// Where the first line end at or after `at` lies in the buffer, or
// FillCount when there is none.
std::size_t NextLineEnd(const TextFile& file, const std::uint64_t* ends, std::size_t at) {
  const auto fill = static_cast<std::size_t>(file.FillCount);
  std::size_t block = at / ClassBlockSize;
  std::uint64_t bits = ends[block] & ~std::uint64_t{0} << (at % ClassBlockSize);
  while (bits == 0 && ++block <= fill / ClassBlockSize) {
    bits = ends[block];
  }
  return bits == 0 ? fill
                   : block * ClassBlockSize + static_cast<std::size_t>(__builtin_ctzll(bits));
}

// Handles a new open must not share a file with: every open channel for a
// write, the channels open for writing for a read. A write must not empty
// the file standard input comes from either: it may be the very input being
// copied, or hold the answers to the prompts.
std::size_t ConflictingHandles(AccessMode mode, SystemHandle32* handles) {
  std::size_t count = 0;
  if (mode == AccessMode::Write) {
    handles[count++] = PlatformStandardHandle(StandardStream::Input);
  }
  for (const TextFile* channel : open_channels) {
    if (channel != nullptr && (mode == AccessMode::Write || channel->State == FileState::Writing)) {
      handles[count++] = channel->SystemHandle;
    }
  }
  return count;
}

bool IsStandardHandle(SystemHandle32 handle) {
  return handle == PlatformStandardHandle(StandardStream::Input) ||
         handle == PlatformStandardHandle(StandardStream::Output) ||
         handle == PlatformStandardHandle(StandardStream::Error);
}

void SetPlatformError() { IoErrorCode = TranslateSystemError(PlatformLastError()); }

// The code for an operation that finds the channel in the wrong state.
void SetStateError(const TextFile& file, FileState wrong_open_state, std::uint16_t wrong_code) {
  IoErrorCode = file.State == wrong_open_state ? wrong_code : NotOpenError;
}

void WriteOut(TextFile& file) {
  std::int32_t taken = 0;
  if (!PlatformWrite(file.SystemHandle, BufferBytes(file), file.Cursor, &taken)) {
    SetPlatformError();
  } else if (taken != file.Cursor) {
    IoErrorCode = ShortWriteError;
  }
  file.Cursor = 0;
}

void FillBuffer(TextFile& file) {
  std::int32_t count = 0;
  if (!PlatformRead(file.SystemHandle, BufferBytes(file), file.BufferCapacity, &count)) {
    SetPlatformError();
  }
  file.FillCount = count;
  file.Cursor = 0;
  Classify(file, 0);
}

// True when a byte can be read at Cursor, refilling the buffer if needed.
bool HaveByte(TextFile& file) {
  if (file.Cursor >= file.FillCount) {
    FillBuffer(file);
  }
  return file.Cursor < file.FillCount;
}

// Puts bytes into the buffer. Only more bytes than there is room for make it
// hand the buffer over, so a buffer that becomes exactly full waits.
void PutBytes(TextFile& file, const unsigned char* bytes, std::size_t n) {
  std::size_t room = static_cast<std::size_t>(file.BufferCapacity - file.Cursor);
  while (n > room) {
    std::memcpy(BufferBytes(file) + file.Cursor, bytes, room);
    file.Cursor += static_cast<std::int32_t>(room);
    WriteOut(file);
    bytes += room;
    n -= room;
    room = static_cast<std::size_t>(file.BufferCapacity - file.Cursor);
  }
  std::copy_n(bytes, n, BufferBytes(file) + file.Cursor);
  file.Cursor += static_cast<std::int32_t>(n);
}

void PutSpaces(TextFile& file, std::int64_t n) {
  static const auto Spaces = [] {
    std::array<unsigned char, TextBufferSize> blanks;
    blanks.fill(' ');
    return blanks;
  }();
  while (n > 0) {
    const std::int64_t chunk = std::min<std::int64_t>(n, TextBufferSize);
    PutBytes(file, Spaces.data(), static_cast<std::size_t>(chunk));
    n -= chunk;
  }
}

// Copies n bytes in a few moves of 16, 8, 4 or 2 bytes, the last of which may
// overlap the one before; no byte outside the n is read or written. (A copy
// of a length known to be short is otherwise a call that takes long to
// start.)
[[gnu::always_inline]] inline void CopyShort(unsigned char* to, const char* from, std::size_t n) {
  if (n >= 16) {
    for (std::size_t k = 0; k + 16 < n; k += 16) {
      std::memcpy(to + k, from + k, 16);
    }
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(to, from, 2);
    std::memcpy(to + n - 2, from + n - 2, 2);
  } else if (n == 1) {
    to[0] = static_cast<unsigned char>(from[0]);
  }
}

// A line that runs on past what the buffer holds, from `begin` to `stop`
// (where the buffer's bytes end, or a CR that ends them, whose LF may come
// with the next read), goes to the front of the buffer: at most `capacity`
// of its bytes, for the rest is skipped anyway, and the CR. The next read
// goes after them, a whole buffer's worth as always. False when it brought
// nothing: the line ends with the input.
bool MoveToFrontAndRead(TextFile& file, const unsigned char* begin, const unsigned char* stop,
                        std::size_t capacity) {
  unsigned char* bytes = BufferBytes(file);
  std::size_t front = std::min(static_cast<std::size_t>(stop - begin), capacity);
  std::memmove(bytes, begin, front);
  if (stop < bytes + file.FillCount) {
    bytes[front++] = CarriageReturn;
  }
  std::int32_t count = 0;
  if (!PlatformRead(file.SystemHandle, bytes + front, file.BufferCapacity, &count)) {
    SetPlatformError();
  }
  file.Cursor = 0;
  file.FillCount = static_cast<std::int32_t>(front) + count;
  Classify(file, 0);
  return count > 0;
}

// The line from `begin` to its line end at `stop` (or the end of what the
// buffer holds), at most `capacity` bytes of it, with its classes; Cursor
// goes past the line end, a CR LF counted as one.
std::string_view LineAt(TextFile& file, std::size_t begin, std::size_t stop, std::size_t capacity,
                        const ByteClasses& all, LineClasses& classes) {
  const unsigned char* bytes = BufferBytes(file);
  const auto end = static_cast<std::size_t>(file.FillCount);
  std::size_t next = stop;
  if (stop < end) {
    next += bytes[stop] == CarriageReturn && stop + 1 < end && bytes[stop + 1] == LineFeed ? 2 : 1;
  }
  file.Cursor = static_cast<std::int32_t>(next);
  classes = LineClasses{.Words = all.Words, .InRanges = all.InRanges, .First = begin};
  return std::string_view(reinterpret_cast<const char*>(bytes + begin),
                          std::min(stop - begin, capacity));
}

// The line that begins at Cursor, moved to the front of the buffer when it
// runs on past it. A line ends at LF, CR, or CR LF, also when the CR ends
// one read and the LF begins the next; a line that ends at neither ends
// with the input (or where a read fails).
std::string_view TakeLine(TextFile& file, std::size_t capacity, LineClasses& classes) {
  for (bool more = true;;) {
    unsigned char* bytes = BufferBytes(file);
    const auto begin = static_cast<std::size_t>(file.Cursor);
    const auto end = static_cast<std::size_t>(file.FillCount);
    const ByteClasses all = file.Bits;
    const std::size_t stop = NextLineEnd(file, all.Ends, begin);
    const bool ends_here = stop < end && (bytes[stop] == LineFeed || stop + 1 < end);
    if (ends_here || !more) {
      return LineAt(file, begin, stop, capacity, all, classes);
    }
    more = MoveToFrontAndRead(file, bytes + begin, bytes + stop, capacity);
  }
}

// ReadLineView for every case: a code pending, a wrong state, other ranges
// than the buffer was classified with, an empty buffer, a line that runs on
// past it or is cut.
[[gnu::noinline]] std::string_view ReadLineAnyhow(TextFile& file, std::size_t capacity,
                                                  const ByteRanges& ranges, LineClasses& classes) {
  classes = LineClasses{};
  if (IoErrorCode == 0 && file.State != FileState::Reading) {
    SetStateError(file, FileState::Writing, OpenForWritingError);
  }
  if (IoErrorCode != 0) {
    return {};
  }
  if (!(ranges == file.ClassRanges)) {
    file.ClassRanges = ranges;
    Classify(file, file.Cursor);
  }
  if (!HaveByte(file)) {
    return {};
  }
  return TakeLine(file, capacity, classes);
}

// WriteLine piece by piece, for every case: a code pending, a wrong state,
// a channel written through, a line the buffer has no room for.
[[gnu::noinline]] void WriteLinePieces(TextFile& file, std::string_view head,
                                       std::string_view middle, std::string_view tail) {
  WriteText(file, head, 0);
  WriteText(file, middle, 0);
  WriteText(file, tail, 0);
  EndLine(file);
}

void SetWriteRoom(TextFile& file) {
  file.WriteRoom = file.State == FileState::Writing && !file.WriteThrough ? file.BufferCapacity : 0;
}

void Open(TextFile& file, FileState state) {
  if (IoErrorCode != 0) {
    return;
  }
  switch (file.State) {
    case FileState::Closed:
      break;
    case FileState::Reading:
    case FileState::Writing:
      CloseTextFile(file);
      if (IoErrorCode != 0) {
        return;  // the old file could not be finished; nothing new is opened
      }
      break;
    default:
      IoErrorCode = NeverBoundError;
      return;
  }
  const AccessMode mode = state == FileState::Reading ? AccessMode::Read : AccessMode::Write;
  file.State = state;
  file.Cursor = 0;
  file.FillCount = 0;
  file.WriteThrough = false;
  file.SystemHandle = NoHandle;
  if (file.Path[0] == '\0') {
    file.SystemHandle = PlatformStandardHandle(mode == AccessMode::Read ? StandardStream::Input
                                                                        : StandardStream::Output);
  } else {
    SystemHandle32 held[MaxOpenChannels + 1];
    const std::size_t held_count = ConflictingHandles(mode, held);
    file.SystemHandle = PlatformOpenFile(file.Path, mode, held, held_count);
    if (file.SystemHandle == NoHandle) {
      SetPlatformError();
    } else if (!Register(file)) {
      PlatformClose(file.SystemHandle);
      file.SystemHandle = NoHandle;
      IoErrorCode = TranslateSystemError(ErrorTooManyOpenFiles);
    }
  }
  if (state == FileState::Writing && IoErrorCode == 0 && PlatformIsCharDevice(file.SystemHandle)) {
    file.WriteThrough = true;
  }
  if (IoErrorCode != 0) {
    file.State = FileState::Closed;
  }
  SetWriteRoom(file);
}

}  // namespace

void SetUpStandardChannels() {
  BindToHandle(StandardInput, FileState::Reading, PlatformStandardHandle(StandardStream::Input));
  const SystemHandle32 output = PlatformStandardHandle(StandardStream::Output);
  BindToHandle(StandardOutput, FileState::Writing, output);
  BindToHandle(ReportOutput, FileState::Writing, output);
  PlatformStandardHandle(StandardStream::Error);  // kept open, never written
  IoErrorCode = 0;
}

void BindTextFile(TextFile& file, std::string_view name) {
  Unregister(file);
  file = TextFile{};
  file.SystemHandle = NoHandle;
  file.State = FileState::Closed;
  file.BufferCapacity = TextBufferSize;
  file.WriteThrough = false;
  UseBuffer(file);
  const std::size_t length = std::min(name.size(), PathSize - 1);
  std::copy_n(name.data(), length, file.Path);
  file.Path[length] = '\0';
}

void BindToHandle(TextFile& file, FileState state, SystemHandle32 handle) {
  BindTextFile(file, std::string_view());
  file.SystemHandle = handle;
  file.State = state;
  file.WriteThrough = state == FileState::Writing;
  SetWriteRoom(file);
}

void OpenForReading(TextFile& file) { Open(file, FileState::Reading); }

void OpenForWriting(TextFile& file) { Open(file, FileState::Writing); }

std::string_view ReadLineView(TextFile& file, std::int32_t capacity, const ByteRanges& ranges,
                              LineClasses& classes) {
  const auto kept =
      static_cast<std::size_t>(std::clamp<std::int32_t>(capacity, 0, MaxBoundedCapacity));
  // Most lines lie whole in the buffer, with the byte after their line end
  // there too, so that a CR LF is told from a CR; they are taken at once.
  // (Past FillCount the buffer holds no line end, so a Cursor there finds
  // none and goes the long way.)
  if (IoErrorCode == 0 && file.State == FileState::Reading && ranges == file.ClassRanges) {
    const auto begin = static_cast<std::size_t>(file.Cursor);
    const std::size_t stop = NextLineEnd(file, file.Bits.Ends, begin);
    if (stop + 1 < static_cast<std::size_t>(file.FillCount) && stop - begin <= kept) {
      return LineAt(file, begin, stop, kept, file.Bits, classes);
    }
  }
  return ReadLineAnyhow(file, kept, ranges, classes);
}

std::int32_t ReadLineInto(TextFile& file, char* chars, std::int32_t capacity) {
  LineClasses classes;  // not needed here
  const std::string_view line = ReadLineView(file, capacity, ByteRanges{}, classes);
  std::copy(line.begin(), line.end(), chars);
  return static_cast<std::int32_t>(line.size());
}

void WriteText(TextFile& file, std::string_view text, std::int32_t width) {
  if (IoErrorCode != 0) {
    return;
  }
  if (file.State != FileState::Writing) {
    SetStateError(file, FileState::Reading, OpenForReadingError);
    return;
  }
  const std::int64_t padding = std::int64_t{width} - static_cast<std::int64_t>(text.size());
  PutSpaces(file, padding);
  PutBytes(file, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void WriteInteger(TextFile& file, std::int32_t value, std::int32_t width) {
  if (IoErrorCode != 0) {
    return;
  }
  WriteText(file, DecimalText(value), width);
}

void EndLine(TextFile& file) {
  if (IoErrorCode != 0) {
    return;
  }
  if (file.State != FileState::Writing) {
    SetStateError(file, FileState::Reading, OpenForReadingError);
    return;
  }
  static constexpr unsigned char LineEnd[] = {CarriageReturn, LineFeed};
  PutBytes(file, LineEnd, sizeof LineEnd);
  if (file.WriteThrough) {
    WriteOut(file);
  }
}

void WriteLine(TextFile& file, std::string_view head, std::string_view middle,
               std::string_view tail) {
  // A channel open for writing and not written through has room for the
  // line and its CR LF in most cases: the line goes in at once.
  const std::size_t size = head.size() + middle.size() + tail.size();
  if (IoErrorCode != 0 || static_cast<std::int64_t>(size) + 2 >
                              std::int64_t{file.WriteRoom} - std::int64_t{file.Cursor}) {
    WriteLinePieces(file, head, middle, tail);
    return;
  }
  unsigned char* to = BufferBytes(file) + file.Cursor;
  CopyShort(to, head.data(), head.size());
  to += head.size();
  if (size != head.size()) {
    CopyShort(to, middle.data(), middle.size());
    to += middle.size();
    CopyShort(to, tail.data(), tail.size());
    to += tail.size();
  }
  static constexpr unsigned char LineEnd[] = {CarriageReturn, LineFeed};
  std::memcpy(to, LineEnd, sizeof LineEnd);  // one store
  file.Cursor += static_cast<std::int32_t>(size + 2);
}

void EndWrite(TextFile& file) {
  if (file.WriteThrough) {
    WriteOut(file);
  }
}

bool AtEndOfInput(TextFile& file) {
  if (IoErrorCode != 0) {
    return true;
  }
  if (file.State != FileState::Reading) {
    SetStateError(file, FileState::Writing, OpenForWritingError);
    return true;
  }
  return !HaveByte(file) || BufferBytes(file)[file.Cursor] == EndOfFileMark;
}

void CloseTextFile(TextFile& file) {
  if (IoErrorCode != 0) {
    return;
  }
  if (file.State != FileState::Reading && file.State != FileState::Writing) {
    IoErrorCode = NotOpenError;
    return;
  }
  if (file.State == FileState::Writing) {
    WriteOut(file);
  }
  // A standard handle stays open for the whole run; every other handle is
  // the channel's own, character devices included.
  if (!IsStandardHandle(file.SystemHandle)) {
    // A file system may report a failed write-back only now; for a file that
    // was written that is a lost file, not a success. The first code stays.
    const bool released = PlatformClose(file.SystemHandle);
    if (!released && file.State == FileState::Writing && IoErrorCode == 0) {
      SetPlatformError();
    }
    file.SystemHandle = NoHandle;
  }
  Unregister(file);
  file.State = FileState::Closed;
  file.Cursor = 0;
  file.FillCount = 0;
  SetWriteRoom(file);
}

std::uint16_t TakeIoError() {
  const std::uint16_t code = IoErrorCode;
  IoErrorCode = 0;
  return code;
}

std::uint16_t TranslateSystemError(std::uint32_t platform_error) {
  if (platform_error >= 19 && platform_error <= 31) {
    return static_cast<std::uint16_t>(platform_error + 131);
  }
  if (platform_error == ErrorSharingViolation) {
    return ErrorAccessDenied;
  }
  return static_cast<std::uint16_t>(platform_error & 0xFFFFu);
}

void FlushOpenOutputChannels() {
  for (TextFile* channel : open_channels) {
    if (channel == nullptr || channel->State != FileState::Writing) {
      continue;
    }
    const std::int32_t waiting =
        std::clamp<std::int32_t>(channel->Cursor, 0, channel->BufferCapacity);
    std::int32_t ignored = 0;
    PlatformWrite(channel->SystemHandle, BufferBytes(*channel), waiting, &ignored);
    channel->Cursor = 0;
  }
}

}  // namespace velk

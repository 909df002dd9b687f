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
constexpr unsigned char EndOfFileMark = 26;  // Ctrl-Z ends a text before its last byte

// Named channels open now. The platform consults their handles so that no
// file is opened twice in conflicting ways, and a stop writes out the ones
// open for writing. A record must be closed (or bound anew) before it goes
// away. Each place keeps the large buffer it was given first, for every
// channel that is open there later: buffers are allocated once, not per file.
constexpr std::size_t MaxOpenChannels = 64;
TextFile* open_channels[MaxOpenChannels] = {};      // empty places are null
unsigned char* file_buffers[MaxOpenChannels] = {};  // allocated on first use

// Enters the file in a free place and gives it that place's buffer.
bool Register(TextFile& file) {
  for (std::size_t place = 0; place < MaxOpenChannels; ++place) {
    if (open_channels[place] == nullptr) {
      if (file_buffers[place] == nullptr) {
        file_buffers[place] = new unsigned char[FileBufferSize];
      }
      open_channels[place] = &file;
      file.FileBuffer = file_buffers[place];
      file.BufferCapacity = FileBufferSize;
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
  file.BufferCapacity = TextBufferSize;
}

unsigned char* Bytes(TextFile& file) {
  return file.FileBuffer != nullptr ? file.FileBuffer : file.Buffer;
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
  if (!PlatformWrite(file.SystemHandle, Bytes(file), file.Cursor, &taken)) {
    SetPlatformError();
  } else if (taken != file.Cursor) {
    IoErrorCode = ShortWriteError;
  }
  file.Cursor = 0;
}

void FillBuffer(TextFile& file) {
  std::int32_t count = 0;
  if (!PlatformRead(file.SystemHandle, Bytes(file), file.BufferCapacity, &count)) {
    SetPlatformError();
  }
  file.FillCount = count;
  file.Cursor = 0;
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
    std::memcpy(Bytes(file) + file.Cursor, bytes, room);
    file.Cursor += static_cast<std::int32_t>(room);
    WriteOut(file);
    bytes += room;
    n -= room;
    room = static_cast<std::size_t>(file.BufferCapacity - file.Cursor);
  }
  std::copy_n(bytes, n, Bytes(file) + file.Cursor);
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

// Takes the characters of a line, at most `capacity` of them, and moves past
// the rest of the line and its line end: LF, CR, or CR LF, also when the CR
// ends one fill of the buffer and the LF starts the next. Returns how many
// characters were taken. Stops early, with what it has, when a read fails.
std::int32_t TakeLine(TextFile& file, char* chars, std::int32_t capacity) {
  std::int32_t taken = 0;
  while (HaveByte(file)) {
    const unsigned char* begin = Bytes(file) + file.Cursor;
    const unsigned char* stop = FindLineEnd(begin, Bytes(file) + file.FillCount);
    const std::int32_t length = static_cast<std::int32_t>(stop - begin);
    const std::int32_t n = std::min(length, capacity - taken);
    std::memcpy(chars + taken, begin, static_cast<std::size_t>(n));
    taken += n;
    file.Cursor += length;
    if (file.Cursor < file.FillCount) {  // stopped at the line end
      ++file.Cursor;
      if (*stop == CarriageReturn && HaveByte(file) && Bytes(file)[file.Cursor] == LineFeed) {
        ++file.Cursor;
      }
      break;
    }
  }
  return taken;
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
  const std::size_t length = std::min(name.size(), PathSize - 1);
  std::copy_n(name.data(), length, file.Path);
  file.Path[length] = '\0';
}

void BindToHandle(TextFile& file, FileState state, SystemHandle32 handle) {
  BindTextFile(file, std::string_view());
  file.SystemHandle = handle;
  file.State = state;
  file.WriteThrough = state == FileState::Writing;
}

void OpenForReading(TextFile& file) { Open(file, FileState::Reading); }

void OpenForWriting(TextFile& file) { Open(file, FileState::Writing); }

std::int32_t ReadLineInto(TextFile& file, char* chars, std::int32_t capacity) {
  if (IoErrorCode != 0) {
    return 0;
  }
  if (file.State != FileState::Reading) {
    SetStateError(file, FileState::Writing, OpenForWritingError);
    return 0;
  }
  return TakeLine(file, chars, std::clamp<std::int32_t>(capacity, 0, MaxBoundedCapacity));
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

void WriteLine(TextFile& file, std::string_view text) {
  const std::size_t room = static_cast<std::size_t>(file.BufferCapacity - file.Cursor);
  if (IoErrorCode != 0 || file.State != FileState::Writing || file.WriteThrough ||
      text.size() + 2 > room) {
    WriteText(file, text, 0);
    EndLine(file);
    return;
  }
  unsigned char* to = Bytes(file) + file.Cursor;
  std::memcpy(to, text.data(), text.size());
  to[text.size()] = CarriageReturn;
  to[text.size() + 1] = LineFeed;
  file.Cursor += static_cast<std::int32_t>(text.size() + 2);
}

void EndWrite(TextFile& file) {
  if (file.WriteThrough) {
    WriteOut(file);
  }
}

bool AtEndOfFile(TextFile& file) {
  if (IoErrorCode != 0) {
    return true;
  }
  if (file.State != FileState::Reading) {
    SetStateError(file, FileState::Writing, OpenForWritingError);
    return true;
  }
  return !HaveByte(file) || Bytes(file)[file.Cursor] == EndOfFileMark;
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
    PlatformWrite(channel->SystemHandle, Bytes(*channel), waiting, &ignored);
    channel->Cursor = 0;
  }
}

}  // namespace velk

// The runtime's pure parts by table, its text channels on real files, and what only one platform
// layer gives: how it numbers system errors and faults, share modes, the end of a pipe. The
// Windows cases run under Wine in the cross build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"
#include "runtime/arguments.h"
#include "runtime/bounded_string.h"
#include "runtime/byte_classes.h"
#include "runtime/text_file.h"

#ifdef _WIN32
#include <windows.h>

#include "runtime/platform_win32.h"
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "runtime/platform_posix.h"
#endif

namespace velk {
namespace {

using namespace std::literals;
using namespace velk::testing;

TEST(SplitCommandLineTest, CutsWordsAtBlanksAndGroupsByQuotes) {
  const std::pair<std::string_view, std::vector<std::string>> cases[] = {
      {"prog a b", {"prog", "a", "b"}},
      {"", {}},
      {"\"my prog\" x", {"my prog", "x"}},
      {" \t prog \t a\t\t b ", {"prog", "a", "b"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog \"it's\"", {"prog", "it's"}},
      {"prog 'say \"hi\"'", {"prog", "say \"hi\""}},
      {"prog a\"\"b", {"prog", "ab"}},
      {"prog \"\"", {"prog", ""}},
      {"prog \"a b  ", {"prog", "a b  "}},
      {"prog C:\\dir\\\"x y\"", {"prog", "C:\\dir\\x y"}},
      {"\"C:\\x.exe a b", {"C:\\x.exe a b"}},
      {"prog \"a\x01\tb\0c\" d"sv, {"prog", "a\x01\tb"}},
      {"prog\001a\037\013b\r\nc!d\177e "sv, {"prog", "a", "b", "c!d\177e"}},
      {"prog '\x1f\r\n \x02'"sv, {"prog", "\x1f\r\n \x02"}},
      // words that outgrow the first storage of a word, bare and quoted
      {"C:\\Program_Files\\velk-1.0.0\\velk.exe \"C:\\Documents and Settings\\All Users\\p.src\"",
       {"C:\\Program_Files\\velk-1.0.0\\velk.exe",
        "C:\\Documents and Settings\\All Users\\p.src"}}};
  for (const auto& [raw, words] : cases) {
    const CountedList split = SplitCommandLine(raw);
    EXPECT_EQ(std::vector<std::string>(split.begin(), split.end()), words) << "raw: " << raw;
  }
}

// Each vector pass this processor runs against the plain version, on random bytes rich in line
// ends, letters, digits and range edges, from a random block on; a block of slack after each
// buffer, as the channels keep. Class words the pass does not write hold the same bytes on both
// sides.
TEST(ByteClassesTest, VectorAndPlainVersionsAgree) {
  std::mt19937 random(0xB17E5);
  const auto byte = [&] {
    const std::mt19937::result_type picks[] = {'\n', '\r', 'a', 'Z', '0', '_', random(), random()};
    return static_cast<unsigned char>(picks[random() % 8]);
  };
  for (int round = 0; round < 20000; ++round) {
    std::vector<unsigned char> bytes(1 + random() % 300 + ReadSlack);
    for (unsigned char& b : bytes) {
      b = byte();
    }
    const std::size_t count = bytes.size() - ReadSlack, from = random() % count / 64 * 64;
    ByteRanges ranges{.Any = round % 3 != 0};
    for (std::size_t k = 0; k < ByteRangeCount; ++k) {
      ranges.Low[k] = byte();
      ranges.Span[k] = static_cast<std::uint8_t>(random() % (round % 2 == 0 ? 4 : 256));
    }
    std::uint64_t plain[3][8];
    std::memset(plain, 0xA5, sizeof plain);
    ClassifyBytesPlain(bytes.data(), from, count, ranges, {plain[0], plain[1], plain[2]});
    for (const ClassifyVersion version : VectorClassifyVersions()) {
      std::uint64_t vector[3][8];
      std::memset(vector, 0xA5, sizeof vector);
      version(bytes.data(), from, count, ranges, {vector[0], vector[1], vector[2]});
      ASSERT_EQ(std::memcmp(vector, plain, sizeof vector), 0) << round;
    }
  }
}

// Each text followed by "|", so that many results are compared in one go.
template <typename... Texts>
static std::string Joined(const Texts&... texts) {
  return ((std::string(texts.View()) + "|") + ... + std::string());
}

TEST(BoundedStringTest, TextsAreClampedAndCutToTheirCapacity) {
  BoundedString<4> text("PASCAL");
  const BoundedString<4> copy = text;
  BoundedStore(text, "a\0\xff"sv);
  BoundedStore(text, text.View().substr(1));
  EXPECT_EQ(Joined(copy, text), "PASC|\0\xff|"s);
  EXPECT_EQ(
      Joined(BoundedSubstring("abcdef", 1, 0), BoundedSubstring("abcdef", -5, 3),
             BoundedSubstring("abcdef", 5, 10), BoundedSubstring("abcdef", 7, 1),
             BoundedSubstring("abcdef", 2, -1), BoundedSubstring("abcdef", 2, 3),
             BoundedSubstring("abc", INT32_MIN, INT32_MAX), BoundedSubstring("abc", INT32_MAX, 9),
             BoundedSubstring("a\0\x80\xff"sv, 2, 2), BoundedJoin("a\0"sv, "\xff")),
      "|abc|ef|||bcd|abc||\0\x80|a\0\xff|"s);
  EXPECT_EQ(BoundedJoin(std::string(250, 'a'), "abcdefgh").View(), std::string(250, 'a') + "abcde");
  EXPECT_EQ(
      Joined(DecimalText(0), DecimalText(-10), DecimalText(INT32_MAX), DecimalText(INT32_MIN)),
      "0|-10|2147483647|-2147483648|");
  EXPECT_EQ(Joined(HexText(255, 8), HexText(0x12345, 4), HexText(7, 0), HexText(0xABCDEF09u, 8),
                   AddressText(4096), AddressText(0xDEADBEEFu)),
            "000000FF|2345||ABCDEF09|  0x00001000|  0xDEADBEEF|");
  EXPECT_EQ(HexText(1, 300).View(), std::string(254, '0') + "1");
}

// Binds and opens `file`; gives the code of the open (0: open).
std::uint16_t Open(TextFile& file, const std::string& path, FileState mode) {
  BindTextFile(file, path);
  mode == FileState::Reading ? OpenForReading(file) : OpenForWriting(file);
  return TakeIoError();
}

// Three channels, closed again after each test.
class TextFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (TextFile* file : {&f, &g, &h}) {
      TakeIoError();
      CloseTextFile(*file);  // on a channel that is not open it only sets a code
    }
    TakeIoError();
  }
  TempDir dir;
  TextFile f{}, g{}, h{};
};

TEST_F(TextFileTest, FieldsAreRightAlignedAndAWrongStateSetsItsCode) {
  WriteFile(dir.Join("in.txt"), "");
  ASSERT_EQ(Open(f, dir.Join("in.txt"), FileState::Reading), 0);
  ASSERT_EQ(Open(g, dir.path + "\\out.txt", FileState::Writing), 0);
  EXPECT_STREQ(g.Path, (dir.path + "\\out.txt").c_str());  // kept as typed
  const auto read = [](TextFile& t) { EXPECT_EQ(ReadLineInto(t, std::string(1, 0).data(), 1), 0); };
  const auto at_end = [](TextFile& t) { EXPECT_TRUE(AtEndOfFile(t)); };
  const auto write = [](TextFile& t) { WriteText(t, "w", 0); };
  const auto line = [](TextFile& t) { WriteLine(t, "w"); };
  const std::tuple<TextFile*, void (*)(TextFile&), std::uint16_t> cases[] = {
      {&h, OpenForReading, 102}, {&g, read, 104}, {&g, at_end, 104},      {&f, write, 105},
      {&f, EndLine, 105},        {&f, line, 105}, {&f, CloseTextFile, 0}, {&f, CloseTextFile, 103},
      {&f, read, 103},           {&f, line, 103}};
  for (const auto& [file, operation, code] : cases) {
    operation(*file);
    EXPECT_EQ(TakeIoError(), code) << code;
  }
  WriteText(g, "abc", 5), WriteText(g, "abc", 2), WriteText(g, "abc", 0), WriteInteger(g, 200, 0);
  WriteInteger(g, -7, 4), WriteInteger(g, INT32_MIN, 0), EndLine(g), EndWrite(g), CloseTextFile(g);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_EQ(ReadFile(dir.Join("out.txt")), "  abcabcabc200  -7-2147483648\r\n");
}

TEST_F(TextFileTest, FailedOpensLeaveTheChannelClosedWithTheirCode) {
  const FileState r = FileState::Reading, w = FileState::Writing;
  const std::tuple<std::string, FileState, std::uint16_t> cases[] = {
      {dir.Join("nosuch.txt"), r, 2},
      {dir.Join("nodir/in.txt"), r, 3},
      {dir.path, r, 5},
      {dir.path, w, 5},
      {"/velk-no-such-file", r, 2},
      {"/velk-no-such-directory/file", r, 3}};
  for (const auto& [name, mode, code] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(f, name, mode), code);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_TRUE(f.State == FileState::Closed && f.SystemHandle == NoHandle);
  }
}

TEST_F(TextFileTest, TwoChannelsOnOneFileRefuseEachOtherWhenEitherWrites) {
  const FileState r = FileState::Reading, w = FileState::Writing;
  const std::tuple<FileState, FileState, std::string> cases[] = {
      {w, r, ""}, {r, w, "kept\r\n"}, {w, w, ""}};
  for (const auto& [first, second, left] : cases) {
    WriteFile(dir.Join("one.txt"), "kept\r\n");
    ASSERT_EQ(Open(f, dir.Join("one.txt"), first), 0);
    EXPECT_EQ(Open(g, dir.Join("one.txt"), second), 5);
    EXPECT_TRUE(g.State == FileState::Closed && g.SystemHandle == NoHandle);
    CloseTextFile(f);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_EQ(ReadFile(dir.Join("one.txt")), left);  // the refused open emptied nothing
  }
}

TEST(TextFileErrorTest, TranslateSystemError) {
  const std::uint32_t cases[][2] = {
      {0, 0},   {2, 2},     {18, 18},   {19, 150},       {31, 162},           {32, 5},
      {33, 33}, {112, 112}, {232, 232}, {0x10013, 0x13}, {0xFFFFFFFF, 0xFFFF}};
  for (const auto& c : cases) {
    EXPECT_EQ(TranslateSystemError(c[0]), c[1]) << c[0];
  }
}

#ifdef _WIN32

TEST(PlatformWin32Test, ExceptionCodesBecomeRunTimeErrorNumbers) {
  // clang-format off
  const std::uint32_t cases[][2] = {
      {0x80000004, 217}, {0xC0000005, 216}, {0xC0000006, 217}, {0xC000001D, 217},
      {0xC000008C, 201}, {0xC000008D, 216}, {0xC000008E, 200}, {0xC0000090, 207},
      {0xC0000091, 205}, {0xC0000092, 207}, {0xC0000093, 206}, {0xC0000094, 200},
      {0xC0000095, 215}, {0xC0000096, 217}, {0xC00000FD, 202}, {0x80000003, 0},
      {0xC0000008, 0},   {0xE06D7363, 0},   {0, 0}};
  // clang-format on
  for (const auto& [code, number] : cases) {
    EXPECT_EQ(FaultNumberForException(code), number) << std::hex << code;
  }
}

TEST(PlatformWin32Test, AFileIsSharedWithNoOtherOpenerEitherWay) {
  testing::TempDir dir;
  const std::string name = dir.Join("held.txt");
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  TextFile file{};
  for (const FileState state : {FileState::Reading, FileState::Writing}) {
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
      // Another opener that shares nothing keeps a channel out, and the file whole...
      WriteFile(name, "kept\r\n");
      HANDLE other = CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_EQ(Open(file, name, state), 5);
      CloseHandle(other);
      EXPECT_EQ(ReadFile(name), "kept\r\n");
      // ... and while a channel has the file, no other opener gets it, whatever it shares.
      ASSERT_EQ(Open(file, name, state), 0);
      other = CreateFileA(name.c_str(), access, all, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_TRUE(other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION);
      CloseHandle(other);
      CloseTextFile(file);
      EXPECT_EQ(TakeIoError(), 0);
    }
  }
}

TEST(PlatformWin32Test, OneCauseGivesOneErrorNumber) {
  const std::uint32_t writes[][2] = {{109, 232},  {233, 232}, {232, 232}, {39, 112},
                                     {1295, 112}, {112, 112}, {5, 5},     {29, 29}};
  for (const auto& [error, number] : writes) {
    EXPECT_EQ(WriteErrorNumber(error), number) << error;
  }
  const std::pair<std::uint32_t, ReadFailure> reads[] = {
      {38, ReadFailure::EndOfInput},  {109, ReadFailure::EndOfInput},
      {233, ReadFailure::EndOfInput}, {234, ReadFailure::BytesDelivered},
      {232, ReadFailure::Error},      {6, ReadFailure::Error},
      {30, ReadFailure::Error}};
  for (const auto& [error, kind] : reads) {
    EXPECT_EQ(ReadFailureKind(error), kind) << error;
  }
}

SystemHandle32 Handle32(HANDLE handle) {
  return static_cast<SystemHandle32>(reinterpret_cast<std::intptr_t>(handle));
}

// Pipes whose other end went away, as the channels see them: the end of the input on reading,
// 232 on writing; a message longer than a read arrives whole.
TEST(PlatformWin32Test, PipesEndTheInputOrRefuseTheOutput) {
  HANDLE read_end = nullptr, write_end = nullptr;
  DWORD written = 0;
  char chars[255];
  TextFile file{};
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  ::WriteFile(write_end, "a\r\n", 3, &written, nullptr);
  CloseHandle(write_end);
  BindToHandle(file, FileState::Reading, Handle32(read_end));
  EXPECT_EQ(ReadLineInto(file, chars, 255), 1);
  EXPECT_TRUE(AtEndOfFile(file));
  EXPECT_EQ(TakeIoError(), 0);
  CloseHandle(read_end);

  const char* name = "\\\\.\\pipe\\velk-test-message-pipe";
  HANDLE server =
      CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr);
  HANDLE client =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD message_mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &message_mode, nullptr, nullptr));
  const std::string message = std::string(300, 'm') + "\nnext\n";
  ::WriteFile(server, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  BindToHandle(file, FileState::Reading, Handle32(client));
  const auto line = [&] {
    return std::string(chars, static_cast<std::size_t>(ReadLineInto(file, chars, 255)));
  };
  EXPECT_EQ(line(), std::string(255, 'm'));
  EXPECT_EQ(line(), "next");
  DisconnectNamedPipe(server);
  EXPECT_TRUE(AtEndOfFile(file));
  EXPECT_EQ(TakeIoError(), 0);
  BindToHandle(file, FileState::Writing, Handle32(client));
  WriteText(file, "lost", 0);
  EndWrite(file), CloseTextFile(file);  // a channel bound to a handle is written out at the close
  EXPECT_EQ(TakeIoError(), 232);
  CloseHandle(server);
}

// What Windows 8 and Windows 7 say about the same handles: only disk files have an identity.
TEST(PlatformWin32Test, OnlyADiskFileIsTheSameFileAsAnother) {
  testing::TempDir dir;
  WriteFile(dir.Join("a"), "a"), WriteFile(dir.Join("b"), "b");
  const auto open = [](const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
  };
  HANDLE a = open(dir.Join("a")), a_again = open(dir.Join("a")), b = open(dir.Join("b"));
  HANDLE null_device = open("NUL"), other_null = open("NUL"), read_end = nullptr,
         write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  const std::tuple<HANDLE, HANDLE, bool> cases[] = {{a, a_again, true},
                                                    {a, b, false},
                                                    {a, null_device, false},
                                                    {null_device, other_null, false},
                                                    {read_end, read_end, false}};
  for (const IdentityQuery query : {IdentityQuery::Newest, IdentityQuery::Windows7}) {
    for (const auto& [first, second, same] : cases) {
      EXPECT_EQ(SameDiskFile(first, second, query), same);
    }
  }
  for (HANDLE handle : {a, a_again, b, null_device, other_null, read_end, write_end}) {
    CloseHandle(handle);
  }
}

// velk.exe started by a Windows parent with standard handles missing (under Wine, a value that is
// no open handle arrives as none): they are NUL, as on Linux /dev/null, and the run goes on.
TEST(PlatformWin32Test, MissingStandardHandlesAreTheNullDevice) {
  testing::TempDir dir;
  WriteFile(dir.Join("real.src"), "real\n"), WriteFile(dir.Join("answer.txt"), "real.src\n");
  const std::string prompt = "Input file miss.src cannot be opened. Enter new filename: ";
  // standard input from answer.txt or none, output to out.txt or none; status, out.txt, miss.PAS
  const std::tuple<bool, bool, DWORD, std::string, std::string> cases[] = {
      {false, true, 1, prompt, ""}, {true, false, 0, "", "real\r\n"}, {false, false, 1, "", ""}};
  for (const auto& [answers, output, status, shown, copied] : cases) {
    SCOPED_TRACE(std::to_string(answers) + std::to_string(output));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = answers ? CreateFileA(dir.Join("answer.txt").c_str(), GENERIC_READ, 0, &inherit,
                                      OPEN_EXISTING, 0, nullptr)
                        : nullptr;
    HANDLE out = output ? CreateFileA(dir.Join("out.txt").c_str(), GENERIC_WRITE, 0, &inherit,
                                      CREATE_ALWAYS, 0, nullptr)
                        : nullptr;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in, startup.hStdOutput = out, startup.hStdError = nullptr;
    std::string command = "velk.exe miss.src";
    PROCESS_INFORMATION child{};
    // The child runs in a job that ends it with the test, held to 64 MiB and 60 s.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = 64u << 20;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    ASSERT_TRUE(CreateProcessA(VELK_BINARY, command.data(), nullptr, nullptr, TRUE,
                               CREATE_SUSPENDED, nullptr, dir.path.c_str(), &startup, &child));
    AssignProcessToJobObject(job, child.hProcess);
    ResumeThread(child.hThread);
    DWORD exit_code = 259;
    if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
      TerminateProcess(child.hProcess, 259);
    }
    GetExitCodeProcess(child.hProcess, &exit_code);
    for (HANDLE handle : {child.hProcess, child.hThread, job, in, out}) {
      if (handle != nullptr) {
        CloseHandle(handle);
      }
    }
    EXPECT_EQ(exit_code, status);
    EXPECT_EQ(ReadFile(dir.Join("out.txt")), shown);
    EXPECT_EQ(ReadFile(dir.Join("miss.PAS")), copied);
    DeleteFileA(dir.Join("out.txt").c_str()), DeleteFileA(dir.Join("miss.PAS").c_str());
  }
}

#else

TEST(PlatformPosixTest, ErrnoBecomesAPlatformError) {
  const std::pair<int, std::uint32_t> cases[] = {
      {ENOENT, 2},  {ENOTDIR, 3},        {EACCES, 5},  {EPERM, 5}, {EROFS, 5},    {EISDIR, 5},
      {ETXTBSY, 5}, {EMFILE, 4},         {ENFILE, 4},  {EBADF, 6}, {ENOSPC, 112}, {EDQUOT, 112},
      {EPIPE, 232}, {ENAMETOOLONG, 206}, {EINVAL, 31}, {ELOOP, 31}};
  for (const auto& [error_number, platform_error] : cases) {
    EXPECT_EQ(PlatformErrorFromErrno(error_number, AccessMode::Read), platform_error);
    EXPECT_EQ(PlatformErrorFromErrno(error_number, AccessMode::Write), platform_error);
  }
  EXPECT_EQ(PlatformErrorFromErrno(EIO, AccessMode::Read), ErrorReadFault);
  EXPECT_EQ(PlatformErrorFromErrno(EIO, AccessMode::Write), ErrorWriteFault);
}

TEST(PlatformPosixTest, FaultNumbers) {
  const std::tuple<int, int, bool, std::uint16_t> cases[] = {
      {SIGSEGV, SEGV_MAPERR, 0, 216}, {SIGSEGV, SEGV_ACCERR, 1, 202}, {SIGBUS, BUS_ADRALN, 0, 217},
      {SIGILL, ILL_ILLOPC, 0, 217},   {SIGTRAP, TRAP_BRKPT, 0, 217},  {SIGFPE, FPE_INTDIV, 0, 200},
      {SIGFPE, FPE_INTOVF, 0, 215},   {SIGFPE, FPE_FLTDIV, 0, 200},   {SIGFPE, FPE_FLTOVF, 0, 205},
      {SIGFPE, FPE_FLTUND, 0, 206},   {SIGFPE, FPE_FLTINV, 0, 207},   {SIGFPE, FPE_FLTSUB, 0, 201},
      {SIGINT, SI_USER, 0, 0},        {SIGPIPE, SI_USER, 0, 0}};
  for (const auto& [signal_number, code, guard, number] : cases) {
    EXPECT_EQ(FaultNumber(signal_number, code, guard), number) << signal_number << " " << code;
  }
}

// A terminal is handed each line as it is written, so that a kill loses none: each line comes out
// of the terminal before the mark the test writes to it after that line.
TEST_F(TextFileTest, ATerminalGetsEachLineAsItIsWritten) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string name = ptsname(master);
  const int terminal = open(name.c_str(), O_RDWR | O_NOCTTY);
  termios modes{};
  ASSERT_EQ(tcgetattr(terminal, &modes), 0);
  cfmakeraw(&modes);  // bytes pass unchanged
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &modes), 0);
  ASSERT_EQ(Open(f, name, FileState::Writing), 0);
  WriteLine(f, "one");
  ASSERT_EQ(write(terminal, "|", 1), 1);
  WriteText(f, "two", 0), EndLine(f);
  ASSERT_EQ(write(terminal, "|", 1), 1);
  std::string got;
  for (char c = 0; std::count(got.begin(), got.end(), '|') < 2 && read(master, &c, 1) == 1;) {
    got += c;
  }
  EXPECT_EQ(got, "one\r\n|two\r\n|");
  close(terminal);
  close(master);
}

#endif

}  // namespace
}  // namespace velk

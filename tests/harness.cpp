#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#ifndef _WIN32  // children are started on POSIX hosts only (velk.exe under Wine)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velk::testing {

namespace {

std::string Environment(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : otherwise;
}

}  // namespace

TempDir::TempDir() {
  std::random_device random;
  do {
    path = std::filesystem::temp_directory_path().string().append("/velk-test-");
    path += std::to_string(random());
  } while (!std::filesystem::create_directory(path));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  char chunk[65536];
  while (bytes.size() < ReadCap && in.read(chunk, sizeof chunk).gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

#ifndef _WIN32
Result RunChild(const std::vector<std::string>& command, const std::string& cwd,
                const std::string& input, const Limits& limits) {
  // The input waits in a file of its own: a child that does not read it never blocks the test.
  char input_path[] = "/tmp/velk-input-XXXXXX";
  const int input_file = mkstemp(input_path);
  int output[2];
  if (input_file < 0 || pipe(output) != 0) {
    std::abort();
  }
  WriteFile(input_path, input);
  unlink(input_path);
  const pid_t pid = fork();
  if (pid == 0) {
    const auto limit = [](int resource, rlim_t value) {
      const rlimit both{value, value};
      setrlimit(resource, &both);
    };
#ifdef VELK_SANITIZE  // which reserves far more address space than a data limit allows
    const std::string options = Environment("ASAN_OPTIONS", "") + ":hard_rss_limit_mb=";
    setenv("ASAN_OPTIONS", (options + std::to_string(limits.MemoryMiB)).c_str(), 1);
#else
    limit(RLIMIT_DATA, rlim_t{limits.MemoryMiB} << 20);
#endif
    limit(RLIMIT_NOFILE, limits.Descriptors);
    limit(RLIMIT_FSIZE, rlim_t{ReadCap});
    alarm(limits.Seconds);  // outlives exec: a hung child is ended
    std::vector<char*> argv;
    for (const std::string& word : command) {
      argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    if (dup2(input_file, 0) == 0 && dup2(output[1], 1) == 1 && chdir(cwd.c_str()) == 0) {
      execv(argv[0], argv.data());
    }
    _exit(127);
  }
  close(input_file);
  close(output[1]);
  Result result;
  char chunk[65536];
  for (ssize_t n; (n = read(output[0], chunk, sizeof chunk)) != 0;) {
    if (n < 0 ? errno != EINTR : result.Stdout.size() + static_cast<std::size_t>(n) > ReadCap) {
      kill(pid, SIGKILL);
      break;
    }
    result.Stdout.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  close(output[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}
#endif

Program::Program(const std::string& built, const char* variable)
    : File(Environment(variable, built)),
      Runner(Environment("VELK_TEST_RUNNER", "")),
      Addr2Line(Environment("VELK_TEST_ADDR2LINE", "addr2line")),
      Windows(Environment("VELK_TEST_SYSTEM", "posix") == "windows") {}

std::vector<std::string> Program::Command(const std::vector<std::string>& args) const {
  std::vector<std::string> command = Runner.empty() ? std::vector{File} : std::vector{Runner, File};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::vector<std::string> ReportAddresses(const std::string& bytes, int number) {
  std::vector<std::string> addresses;
  std::string rebuilt = std::string("Runtime error ").append(std::to_string(number)) + " at 0x";
  for (std::size_t at = 0; (at = bytes.find("\r\n  0x", at)) != std::string::npos; ++at) {
    const std::string& a = addresses.emplace_back(bytes.substr(at + 6, 8));
    EXPECT_TRUE(a.size() == 8 && a.find_first_not_of("0123456789ABCDEF") == a.npos) << a;
    rebuilt += (addresses.size() == 1 ? a : "") + "\r\n  0x" + a;
  }
  EXPECT_EQ(bytes, rebuilt + "\r\n\r\n");
  return addresses;
}

}  // namespace velk::testing

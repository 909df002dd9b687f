#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velk::testing {

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::abort();
  }
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScopedTempDir::Join(const std::string& name) const { return path_ + "/" + name; }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input, int limit_seconds) {
  // The input waits in a file of its own, so the child can never block the
  // test by not reading it.
  char input_path[] = "/tmp/velk-input-XXXXXX";
  const int input_file = mkstemp(input_path);
  int output[2];
  if (input_file < 0 || pipe(output) != 0) {
    std::abort();
  }
  WriteFileBytes(input_path, input);
  unlink(input_path);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input_file, 0);
    dup2(output[1], 1);
    close(output[0]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    alarm(static_cast<unsigned>(limit_seconds));  // outlives exec: a hung child is ended
    if (chdir(cwd.c_str()) == 0) {
      execv(program.c_str(), argv.data());
    }
    _exit(127);
  }
  close(input_file);
  close(output[1]);
  ChildResult result;
  char chunk[4096];
  ssize_t n;
  while ((n = read(output[0], chunk, sizeof chunk)) != 0) {
    if (n > 0) {
      result.Stdout.append(chunk, static_cast<std::size_t>(n));
    } else if (errno != EINTR) {
      break;
    }
  }
  close(output[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.TermSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

}  // namespace velk::testing

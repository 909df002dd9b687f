#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

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

bool FileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

namespace {

// Feeds `input` and drains the child's output without either pipe blocking
// the other.
std::string Exchange(int to_child, int from_child, const std::string& input, pid_t pid,
                     int limit_seconds) {
  std::string output;
  std::size_t sent = 0;
  if (input.empty()) {
    close(to_child);
    to_child = -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
  while (from_child >= 0) {
    pollfd fds[2] = {{from_child, POLLIN, 0}, {to_child, POLLOUT, 0}};
    const nfds_t count = to_child >= 0 ? 2 : 1;
    const int ready = poll(fds, count, 200);
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (ready <= 0) {
      continue;
    }
    if (count == 2 && fds[1].revents != 0) {
      const ssize_t n = write(to_child, input.data() + sent, input.size() - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      }
      if (n < 0 || sent == input.size()) {
        close(to_child);
        to_child = -1;
      }
    }
    if (fds[0].revents != 0) {
      char chunk[4096];
      const ssize_t n = read(from_child, chunk, sizeof chunk);
      if (n <= 0) {
        close(from_child);
        from_child = -1;
      } else {
        output.append(chunk, static_cast<std::size_t>(n));
      }
    }
  }
  if (to_child >= 0) {
    close(to_child);
  }
  if (from_child >= 0) {
    close(from_child);
  }
  return output;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input, int limit_seconds) {
  int in_pipe[2];
  int out_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) {
    std::abort();
  }
  // The test keeps running when the child closes its input early.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    close(in_pipe[0]);
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(out_pipe[1]);
    if (chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  ChildResult result;
  result.Stdout = Exchange(in_pipe[1], out_pipe[0], input, pid, limit_seconds);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.ExitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.TermSignal = WTERMSIG(status);
  }
  return result;
}

}  // namespace velk::testing

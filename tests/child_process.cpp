#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "test_support.h"

namespace velk::testing {

namespace {

std::string Environment(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : otherwise;
}

std::vector<std::string> CommandLine(const ProgramUnderTest& program,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> command;
  if (!program.Runner.empty()) {
    command.push_back(program.Runner);
  }
  command.push_back(program.Program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

// In the child: moves to `cwd` and runs body, or exits with 127.
[[noreturn]] void Enter(const std::function<void()>& body, const std::string& cwd,
                        int limit_seconds) {
  if (limit_seconds > 0) {
    alarm(static_cast<unsigned>(limit_seconds));  // outlives exec: a hung child is ended
  }
  if (chdir(cwd.c_str()) == 0) {
    body();
  }
  _exit(127);
}

// A body that becomes `command`.
std::function<void()> Exec(const std::vector<std::string>& command) {
  return [command] {
    std::vector<char*> argv;
    for (const std::string& word : command) {
      argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
  };
}

std::string ReadAll(int from) {
  std::string bytes;
  char chunk[4096];
  ssize_t n;
  while ((n = read(from, chunk, sizeof chunk)) != 0) {
    if (n > 0) {
      bytes.append(chunk, static_cast<std::size_t>(n));
    } else if (errno != EINTR) {
      break;
    }
  }
  return bytes;
}

// Waits for the child and fills in how it ended.
void Wait(int pid, ChildResult& result) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.TermSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ChildResult RunForked(const std::function<void()>& body, const std::string& cwd,
                      const std::string& input, int limit_seconds) {
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
    Enter(body, cwd, limit_seconds);
  }
  close(input_file);
  close(output[1]);
  ChildResult result;
  result.Stdout = ReadAll(output[0]);
  close(output[0]);
  Wait(pid, result);
  return result;
}

ProgramUnderTest ProgramFromEnvironment(const std::string& built, const char* variable) {
  ProgramUnderTest program;
  program.Program = Environment(variable, built);
  program.Runner = Environment("VELK_TEST_RUNNER", "");
  program.Windows = Environment("VELK_TEST_SYSTEM", "posix") == "windows";
  program.Addr2Line = Environment("VELK_TEST_ADDR2LINE", "addr2line");
  return program;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input, int limit_seconds) {
  return RunChild(ProgramUnderTest{program, "", false}, args, cwd, input, limit_seconds);
}

ChildResult RunChild(const ProgramUnderTest& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input, int limit_seconds) {
  return RunForked(Exec(CommandLine(program, args)), cwd, input, limit_seconds);
}

BackgroundChild::BackgroundChild(const ProgramUnderTest& program,
                                 const std::vector<std::string>& args, const std::string& cwd) {
  int input[2];
  int output[2];
  if (pipe(input) != 0 || pipe(output) != 0) {
    std::abort();
  }
  const std::vector<std::string> command = CommandLine(program, args);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    close(input[1]);
    close(output[0]);
    Enter(Exec(command), cwd, 60);
  }
  close(input[0]);
  close(output[1]);
  input_ = input[1];
  output_ = output[0];
}

BackgroundChild::~BackgroundChild() { Finish(); }

std::string BackgroundChild::ReadLine() {
  std::string line;
  char c;
  ssize_t n;
  while ((n = read(output_, &c, 1)) != 0) {
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 || c == '\n') {
      break;
    }
    line += c;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

bool BackgroundChild::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(input_, bytes.data(), bytes.size());
    if (n < 0 && errno != EINTR) {
      return false;
    }
    bytes.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return true;
}

void BackgroundChild::Signal(int signal_number) { kill(pid_, signal_number); }

ChildResult BackgroundChild::Finish() {
  ChildResult result;
  if (pid_ < 0) {
    return result;
  }
  close(input_);
  result.Stdout = ReadAll(output_);
  close(output_);
  Wait(pid_, result);
  pid_ = -1;
  return result;
}

}  // namespace velk::testing

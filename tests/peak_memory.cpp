// peak_memory FILE PROGRAM ARGS...: runs the program and writes the most
// memory it held at once (KiB, from wait4) to FILE; ends with its status. A
// child forked from the test process itself would count that process's
// memory too, so the stress tests start velk from this small program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    return 127;
  }
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    return 127;
  }
  if (std::FILE* file = std::fopen(argv[1], "w")) {
    std::fprintf(file, "%ld\n", usage.ru_maxrss);
    std::fclose(file);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

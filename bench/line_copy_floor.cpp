// The floor for velk's speed: a copier that does only what every line of
// velk's work needs, finding the line end with memchr and writing the line
// with CR LF, through 64 KiB buffers in and out.
//
//   velk_line_copy INPUT OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t BufferSize = 64 * 1024;

char input[BufferSize];
char output[BufferSize];
std::size_t waiting = 0;  // bytes in output

bool WriteAll(int fd, const char* bytes, std::size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, bytes, n);
    if (done <= 0) {
      return false;
    }
    bytes += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

bool Put(int fd, const char* bytes, std::size_t n) {
  if (waiting + n > BufferSize) {
    if (!WriteAll(fd, output, waiting)) {
      return false;
    }
    waiting = 0;
    if (n > BufferSize) {
      return WriteAll(fd, bytes, n);
    }
  }
  std::memcpy(output + waiting, bytes, n);
  waiting += n;
  return true;
}

bool PutLine(int fd, const char* line, std::size_t n) {
  return Put(fd, line, n) && Put(fd, "\r\n", 2);
}

// Copies every LF-ended line; a last line without LF is ended too. A line
// longer than the buffer is not expected in the corpora and is cut.
bool Copy(int in, int out) {
  std::size_t kept = 0;  // bytes of an unfinished line at the start of input
  for (;;) {
    const ssize_t got = read(in, input + kept, BufferSize - kept);
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    const char* start = input;
    const char* end = input + kept + static_cast<std::size_t>(got);
    while (const void* found = std::memchr(start, '\n', static_cast<std::size_t>(end - start))) {
      const char* line_end = static_cast<const char*>(found);
      if (!PutLine(out, start, static_cast<std::size_t>(line_end - start))) {
        return false;
      }
      start = line_end + 1;
    }
    kept = static_cast<std::size_t>(end - start);
    if (kept == BufferSize) {
      kept = 0;
    }
    std::memmove(input, start, kept);
  }
  return (kept == 0 || PutLine(out, input, kept)) && WriteAll(out, output, waiting);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: velk_line_copy INPUT OUTPUT\n", stderr);
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || !Copy(in, out) || close(out) != 0) {
    std::perror("velk_line_copy");
    return 1;
  }
  return 0;
}

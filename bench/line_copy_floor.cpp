// The floor for velk's speed: a copier that does only what every line of
// velk's work needs, finding the line end with memchr and writing the line
// with CR LF, through 64 KiB buffers in and out. The streams are unbuffered,
// so each buffer goes to the system in one call.
//
//   velk_line_copy INPUT OUTPUT
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t BufferSize = 64 * 1024;

char input[BufferSize];
char output[BufferSize];
std::size_t waiting = 0;  // bytes in output

bool WriteAll(std::FILE* out, const char* bytes, std::size_t n) {
  return std::fwrite(bytes, 1, n, out) == n;
}

bool Put(std::FILE* out, const char* bytes, std::size_t n) {
  if (waiting + n > BufferSize) {
    if (!WriteAll(out, output, waiting)) {
      return false;
    }
    waiting = 0;
    if (n > BufferSize) {
      return WriteAll(out, bytes, n);
    }
  }
  std::memcpy(output + waiting, bytes, n);
  waiting += n;
  return true;
}

bool PutLine(std::FILE* out, const char* line, std::size_t n) {
  return Put(out, line, n) && Put(out, "\r\n", 2);
}

// Copies every LF-ended line; a last line without LF is ended too. A line
// longer than the buffer is not expected in the corpora and is cut.
bool Copy(std::FILE* in, std::FILE* out) {
  std::size_t kept = 0;  // bytes of an unfinished line at the start of input
  for (;;) {
    const std::size_t got = std::fread(input + kept, 1, BufferSize - kept, in);
    if (got == 0) {
      break;
    }
    const char* start = input;
    const char* end = input + kept + got;
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
  return !std::ferror(in) && (kept == 0 || PutLine(out, input, kept)) &&
         WriteAll(out, output, waiting);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: velk_line_copy INPUT OUTPUT\n", stderr);
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "wb");
  if (in == nullptr || out == nullptr) {
    std::perror("velk_line_copy");
    return 1;
  }
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IONBF, 0);
  if (!Copy(in, out) || std::fclose(out) != 0) {
    std::perror("velk_line_copy");
    return 1;
  }
  return 0;
}

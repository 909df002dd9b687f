#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace velk::testing {

ScopedTempDir::ScopedTempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("velk-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  std::abort();
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

std::vector<std::string> ReportAddresses(const std::string& bytes, int number) {
  std::vector<std::string> addresses;
  std::string rebuilt = "Runtime error " + std::to_string(number) + " at 0x";
  for (std::size_t at = 0; (at = bytes.find("\r\n  0x", at)) != std::string::npos; ++at) {
    addresses.push_back(bytes.substr(at + 6, 8));
    const std::string& a = addresses.back();
    EXPECT_TRUE(a.size() == 8 && a.find_first_not_of("0123456789ABCDEF") == a.npos) << a;
    rebuilt += (addresses.size() == 1 ? a : "") + "\r\n  0x" + a;
  }
  EXPECT_EQ(bytes, rebuilt + "\r\n\r\n");
  return addresses;
}

}  // namespace velk::testing

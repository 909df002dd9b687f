// What the channel tests share: opening a named channel and taking its code,
// and a fixture with three channels that are closed again after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/text_file.h"
#include "test_support.h"

namespace velk::testing {

// Binds and opens `file`; gives the code of the open (0: open).
inline std::uint16_t Open(TextFile& file, const std::string& path, FileState mode) {
  BindTextFile(file, path);
  mode == FileState::Reading ? OpenForReading(file) : OpenForWriting(file);
  return TakeIoError();
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeIoError(); }
  void TearDown() override {
    for (TextFile* file : {&f, &g, &h}) {
      TakeIoError();
      CloseTextFile(*file);  // on a channel that is not open it only sets a code
    }
    TakeIoError();
  }
  ScopedTempDir dir;
  TextFile f{}, g{}, h{};
};

}  // namespace velk::testing

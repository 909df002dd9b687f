#include "engine/file_opening.h"

#include <gtest/gtest.h>

TEST(NamingRuleTest, CutsTheLastPathComponentAtItsFirstDotAndAddsTheExtension) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"prog.src", "PAS", "prog.PAS"},
      {"prog", "PAS", "prog.PAS"},
      {"a.b.c", "PAS", "a.PAS"},
      {"PROG.PAS", "PAS", "PROG.PAS"},
      {"prog.src", "TXT", "prog.TXT"},
      {"prog.src", ".X", "prog.X"},
      {"prog.src", "", "prog."},
      {std::string(40, 'F'), "PAS", std::string(40, 'F')},
      {std::string(38, 'G'), "PAS", std::string(38, 'G') + ".P"},
      {".profile", "PAS", ".PAS"},
      {"./prog.src", "PAS", "./prog.PAS"},
      {"dir.v2/prog.src", "PAS", "dir.v2/prog.PAS"},
      {"src/.profile", "PAS", "src/.PAS"},
      {"..\\src\\prog.src", "PAS", "..\\src\\prog.PAS"},
      {"a.b/c.d\\e.f.g", "PAS", "a.b/c.d\\e.PAS"}};
  for (const auto& [name, ext, output] : cases) {
    EXPECT_EQ(velk::NamingRule(velk::FileName(name), velk::Extension(ext)).View(), output) << name;
  }
}

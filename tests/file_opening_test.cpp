#include "engine/file_opening.h"

#include <gtest/gtest.h>

#include <string>

namespace velk {
namespace {

TEST(NamingRuleTest, ReplacesTheExtensionOfTheLastPathComponent) {
  struct Case {
    std::string name;
    std::string extension;
    std::string expected;
  };
  const std::string forty(40, 'F');
  const std::string thirty_eight(38, 'G');
  const std::string thirty_nine(39, 'H');
  const Case cases[] = {
      {"prog.src", "PAS", "prog.PAS"},
      {"prog", "PAS", "prog.PAS"},
      {"a.b.c", "PAS", "a.PAS"},
      {"PROG.PAS", "PAS", "PROG.PAS"},
      {"prog.pas", "PAS", "prog.PAS"},
      {"prog.", "PAS", "prog.PAS"},
      {"", "PAS", ".PAS"},
      {"prog.src", "TXT", "prog.TXT"},
      {"prog.src", ".X", "prog.X"},
      {"prog.src", ".", "prog."},
      {"prog.src", "", "prog."},
      {"prog.src", "-D", "prog.-D"},
      {forty, "PAS", forty},
      {thirty_eight, "PAS", thirty_eight + ".P"},
      {thirty_nine, "PAS", thirty_nine + "."},
      {std::string(36, 'L') + ".src", "TXT", std::string(36, 'L') + ".TXT"},
      {".profile", "PAS", ".PAS"},
      {"./prog.src", "PAS", "./prog.PAS"},
      {"../src/prog.src", "PAS", "../src/prog.PAS"},
      {"dir.v2/prog.src", "PAS", "dir.v2/prog.PAS"},
      {"dir.v2/prog", "TXT", "dir.v2/prog.TXT"},
      {"src/.profile", "PAS", "src/.PAS"},
      {"dir.v2/", "PAS", "dir.v2/.PAS"},
      {"dir\\prog.src", "PAS", "dir\\prog.PAS"},
      {"..\\src\\prog.src", "PAS", "..\\src\\prog.PAS"},
      {"a.b/c.d\\e.f.g", "PAS", "a.b/c.d\\e.PAS"},
      {"x.y\\z", "PAS", "x.y\\z.PAS"},
      {"d/" + thirty_eight, "PAS", "d/" + thirty_eight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("name \"" + c.name + "\", extension \"" + c.extension + "\"");
    const FileName result = NamingRule(FileName(c.name), Extension(c.extension));
    EXPECT_EQ(std::string(result.View()), c.expected);
  }
}

}  // namespace
}  // namespace velk

// The README names the result's outcome words as the outcome table has them.
#include "app/cli/Verdict.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace quarnel::cli {
namespace {

TEST(Verdict, ReadmeNamesEveryOutcomeWordOfTheTable) {
  std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  const std::string start = "The result's `outcome` is one of ";
  const auto from = readme.find(start);
  ASSERT_NE(from, std::string::npos) << "the README no longer lists the outcome words";
  const auto to = readme.find(';', from);
  const std::string list = readme.substr(from + start.size(), to - from - start.size());
  std::set<std::string> named;
  const std::regex word("`([a-z-]+)`");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), word); it != std::sregex_iterator();
       ++it) {
    named.insert((*it)[1].str());
  }
  std::set<std::string> table;
  for (const OutcomeWords& row : OutcomeTable()) {
    if (row.outcome != nullptr) table.insert(row.outcome);
  }
  EXPECT_EQ(named, table);
}

}  // namespace
}  // namespace quarnel::cli

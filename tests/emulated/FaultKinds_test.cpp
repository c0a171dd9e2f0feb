// Every text that lists the emulated unit's fault kinds agrees with the one table of them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/WindowedProgram.h"
#include "app/cli/CliOptions.h"
#include "emulated/Faults.h"

namespace quarnel::emulated {
namespace {

std::string ReadSource(const std::string& file) {
  std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs of blanks and line breaks as one blank: wrapped lists read as one line.
std::string OneLine(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

// One roff line as text: a font macro's words (joined without blanks where the macro
// alternates fonts), \- as -.
std::string RoffText(std::string line) {
  line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
  std::smatch m;
  if (!std::regex_match(line, m, std::regex(R"(\.([A-Z]{1,2})\s+(.*))"))) return line;
  std::istringstream words(m[2].str());
  const char* glue = m[1].length() == 2 ? "" : " ";
  std::string out;
  for (std::string word; words >> word;) out += (out.empty() ? "" : glue) + word;
  return out;
}

struct Listed {
  std::string tag;
  std::string description;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& l) {
  return out << l.tag << " = " << l.description;
}

// The kinds below --simulate-fault in the manual page: each .TP's tag and its text up to the
// next one, without the closing ; or .
std::vector<Listed> ManPageKinds(const std::string& roff) {
  const auto start = roff.find("\n.RS\n", roff.find(R"(\-\-simulate\-fault=)"));
  const auto end = roff.find("\n.RE\n", start);
  std::vector<Listed> kinds;
  std::istringstream lines(roff.substr(start, end - start));
  bool tag = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == ".TP") {
      kinds.emplace_back();
      tag = true;
    } else if (!kinds.empty() && tag) {
      kinds.back().tag = RoffText(line);
      tag = false;
    } else if (!kinds.empty()) {
      std::string& d = kinds.back().description;
      d += (d.empty() ? "" : " ") + RoffText(line);
    }
  }
  for (Listed& k : kinds) {
    if (!k.description.empty() && (k.description.back() == ';' || k.description.back() == '.'))
      k.description.pop_back();
  }
  return kinds;
}

TEST(FaultKinds, EveryTextThatListsThemAgreesWithTheTable) {
  const std::string list = FaultKindList();
  EXPECT_EQ(list.rfind("flip:ADDR, silent-after:N, ", 0), 0u) << list;
  const std::pair<const char*, std::string> texts[] = {
      {"the command line's --help", cli::HelpText()},
      {"the windowed program's usage", windowed::Usage()},
      {"README.md", ReadSource("README.md")},
  };
  for (const auto& [what, text] : texts)
    EXPECT_NE(OneLine(text).find(list), std::string::npos) << what << " does not list: " << list;

  std::vector<Listed> table;
  std::string words;
  for (const FaultKind& k : FaultKinds()) {
    const std::string tag =
        std::string(k.name) + (k.value.empty() ? "" : ":" + std::string(k.value));
    table.push_back({tag, std::string(k.description)});
    words += (words.empty() ? "" : " ") + std::string(k.name) + (k.value.empty() ? "" : ":");
  }
  EXPECT_EQ(ManPageKinds(ReadSource("packaging/linux/quarnel-fwupdate-cli.1.in")), table);

  const std::string completion = ReadSource("packaging/linux/quarnel-fwupdate-cli.bash-completion");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      completion, m, std::regex(R"(--simulate-fault\)\s+COMPREPLY=\(\$\(compgen -W '([^']*)')")));
  EXPECT_EQ(m[1].str(), words);
}

}  // namespace
}  // namespace quarnel::emulated

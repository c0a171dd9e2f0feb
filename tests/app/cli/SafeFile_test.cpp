#include "app/cli/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/support/TestFolder.h"

namespace quarnel::cli {
namespace {

namespace fs = std::filesystem;
using Kind = WriteProblem;

using Folder = testing::TestFolder;
using testing::GetFile;
using testing::PutFile;

const std::vector<std::uint8_t> kData = {'n', 'e', 'w', 0, 0xFF};
const std::string kDataText(kData.begin(), kData.end());

// What is at the name decides, the same for the check and the write, and nothing but the
// finished file is ever left behind.
TEST(SafeFile, WhatIsAtTheNameDecides) {
  Folder folder;
  PutFile(folder.File("old.bin"), "old");
  fs::create_directory(folder.File("sub"));
  struct Case {
    std::string name;
    bool replace;
    std::optional<Kind> failure;
    std::string words;  // in the detail
  };
  const Case cases[] = {
      {"new.bin", false, std::nullopt, ""},
      {"old.bin", false, Kind::Exists, "' exists; add --force to overwrite it"},
      {"sub", true, Kind::Folder, "is a folder"},
      {"sub/", true, Kind::Folder, "is a folder"},
      {"missing/x.bin", true, Kind::NoFolder, "missing"},
      {"old.bin/x.bin", true, Kind::NoFolder, "old.bin"},
  };
  for (const Case& c : cases) {
    const std::string path = folder.File(c.name);
    const auto before = folder.Names();
    const auto checked = CheckFileTarget(path, c.replace);
    const auto written = WriteFileSafely(path, kData, c.replace);
    ASSERT_EQ(checked.ok(), !c.failure) << c.name;
    ASSERT_EQ(written.ok(), !c.failure) << c.name;
    if (c.failure) {
      EXPECT_EQ(checked.error().kind, *c.failure) << c.name << ": " << checked.error().detail;
      EXPECT_EQ(written.error().kind, *c.failure) << c.name << ": " << written.error().detail;
      EXPECT_NE(written.error().detail.find(c.words), std::string::npos) << written.error().detail;
      EXPECT_EQ(folder.Names(), before) << c.name;
    } else {
      EXPECT_EQ(GetFile(path), kDataText);
    }
  }
  EXPECT_EQ(GetFile(folder.File("old.bin")), "old");
  EXPECT_TRUE(fs::is_directory(folder.File("sub")));
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"new.bin", "old.bin", "sub"}));

  ASSERT_TRUE(WriteFileSafely(folder.File("old.bin"), kData, true).ok());
  EXPECT_EQ(GetFile(folder.File("old.bin")), kDataText);
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"new.bin", "old.bin", "sub"}));
}

// A file of the name the program used to write into first is someone else's: never opened,
// emptied or removed.
TEST(SafeFile, NeverTouchesAnExistingPartFile) {
  Folder folder;
  PutFile(folder.File("p.bin.part"), "not mine");
  ASSERT_TRUE(WriteFileSafely(folder.File("p.bin"), kData, false).ok());
  EXPECT_EQ(GetFile(folder.File("p.bin.part")), "not mine");
  EXPECT_EQ(GetFile(folder.File("p.bin")), kDataText);
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"p.bin", "p.bin.part"}));
}

TEST(SafeFile, TemporaryNamesDiffer) {
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    const std::string name = TemporaryName("p.bin");
    EXPECT_EQ(name.size(), std::string("p.bin.12345678.part").size()) << name;
    EXPECT_EQ(name.rfind("p.bin.", 0), 0u) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
}

}  // namespace
}  // namespace quarnel::cli

#include "app/cli/SafeFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace quarnel::cli {
namespace {

namespace fs = std::filesystem;
using Kind = WriteProblem;

std::string TestName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A folder of its own for each test's files, removed at the end.
class Folder {
 public:
  Folder() : path_(fs::temp_directory_path() / ("quarnel-safefile-" + TestName())) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~Folder() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path path_;
};

void Put(const std::string& path, const std::string& text) {
  std::ofstream(fs::path(path), std::ios::binary) << text;
}

std::string Get(const std::string& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const std::vector<std::uint8_t> kData = {'n', 'e', 'w', 0, 0xFF};
const std::string kDataText(kData.begin(), kData.end());

// What is at the name decides, the same for the check and the write, and nothing but the
// finished file is ever left behind.
TEST(SafeFile, WhatIsAtTheNameDecides) {
  Folder folder;
  Put(folder.File("old.bin"), "old");
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
      EXPECT_EQ(Get(path), kDataText);
    }
  }
  EXPECT_EQ(Get(folder.File("old.bin")), "old");
  EXPECT_TRUE(fs::is_directory(folder.File("sub")));
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"new.bin", "old.bin", "sub"}));

  ASSERT_TRUE(WriteFileSafely(folder.File("old.bin"), kData, true).ok());
  EXPECT_EQ(Get(folder.File("old.bin")), kDataText);
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"new.bin", "old.bin", "sub"}));
}

// A file of the name the program used to write into first is someone else's: never opened,
// emptied or removed.
TEST(SafeFile, NeverTouchesAnExistingPartFile) {
  Folder folder;
  Put(folder.File("p.bin.part"), "not mine");
  ASSERT_TRUE(WriteFileSafely(folder.File("p.bin"), kData, false).ok());
  EXPECT_EQ(Get(folder.File("p.bin.part")), "not mine");
  EXPECT_EQ(Get(folder.File("p.bin")), kDataText);
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

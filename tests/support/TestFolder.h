// A folder of its own for each test's files, named after the test and the process, and
// removed at the end with whatever the test left in it (permissions it took away included).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace quarnel::testing {

class TestFolder {
 public:
  TestFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("quarnel-test-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string path() const { return path_.string(); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void PutFile(const std::string& path, const std::string& text) {
  std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

inline void PutFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  PutFile(path, std::string(bytes.begin(), bytes.end()));
}

inline std::string GetFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace quarnel::testing

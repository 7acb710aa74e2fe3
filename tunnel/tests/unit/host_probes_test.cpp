#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "linux/host_probes.hpp"
#include "unit/test_support.hpp"

namespace ferroglade {
namespace {

using testing::ScopedPath;

TEST(StatusTextSaysRoot, DecidesOnTheEffectiveIdOfTheFirstUidLine) {
  const std::vector<std::pair<std::string_view, bool>> cases = {
      {"Name:\tx\nUid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\n", true},
      {"Uid:\t1000\t0\t1000\t1000\n", true},  // only the effective ID counts
      {"Uid:\t0\t1000\t0\t0\n", false},
      {"Uid:\t1000\t00\t0\t0\n", false},
      {"Uid:\t1000\t10\n", false},
      {"Uid:\t0\n", false},
      {"Uid:\n", false},
      {"Uid: 5 0\r\nGid:\t0\n", true},
      {"Uid:\t5\t0", true},                 // last line without a line feed
      {"Uid:\t5\t7\nUid:\t0\t0\n", false},  // later Uid lines are never looked at
      {"Name:\tUid:\t0\t0\nUid:\t1\t2\n", false},
      {"uid:\t0\t0\n", false},
      {"Ui\nd:\t0\t0\n", false},
      {"", false},
      {"Uid:\xC2\xA0"
       "1\xE3\x80\x80"
       "0\n",
       true},                                // fields split at Unicode white space
      {"Name:\t\xFF\nUid:\t0\t0\n", false},  // not UTF-8 anywhere in the file
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(expected, status_text_says_root(text)) << ::testing::PrintToString(std::string(text));
  }
}

TEST(SamePath, ComparesComponents) {
  EXPECT_TRUE(same_path("net:[4026531840]", "net:[4026531840]"));
  EXPECT_FALSE(same_path("net:[4026531840]", "net:[4026532000]"));
  EXPECT_TRUE(same_path("/a//b/", "/a/b"));
  EXPECT_TRUE(same_path("a/b", "a//b//"));
  EXPECT_FALSE(same_path("/a/b", "a/b"));
  EXPECT_FALSE(same_path("/a/b", "/a/b/c"));
  EXPECT_FALSE(same_path("/ab", "/a/b"));
  EXPECT_TRUE(same_path("", ""));
  EXPECT_TRUE(same_path("/", "//"));
}

TEST(SplitSearchPath, KeepsEmptyEntries) {
  using Entries = std::vector<std::string_view>;
  EXPECT_EQ(Entries{""}, split_search_path(""));
  EXPECT_EQ((Entries{"/usr/sbin", "/usr/bin", "/sbin", "/bin"}), split_search_path("/usr/sbin:/usr/bin:/sbin:/bin"));
  EXPECT_EQ((Entries{"", "/bin"}), split_search_path(":/bin"));
  EXPECT_EQ((Entries{"/bin", ""}), split_search_path("/bin:"));
  EXPECT_EQ((Entries{"/a", "", "/b"}), split_search_path("/a::/b"));
  EXPECT_EQ((Entries{"", ""}), split_search_path(":"));
}

TEST(CandidatePath, JoinsWithOneSlash) {
  EXPECT_EQ("/usr/bin/wg", candidate_path("/usr/bin", "wg"));
  EXPECT_EQ("/usr/bin/wg", candidate_path("/usr/bin/", "wg"));
  EXPECT_EQ("/usr/bin//wg", candidate_path("/usr/bin//", "wg"));
  EXPECT_EQ("wg", candidate_path("", "wg"));
  EXPECT_EQ("/wg", candidate_path("/", "wg"));
  EXPECT_EQ("bin/wg", candidate_path("bin", "wg"));
}

class ToolOnPath : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "probes-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
    std::filesystem::create_directory(dir_ / "bin");
    std::ofstream(dir_ / "bin" / "plain") << "not executable\n";
    std::filesystem::permissions(dir_ / "bin" / "plain", std::filesystem::perms::owner_read);
    std::filesystem::create_symlink(dir_ / "bin" / "plain", dir_ / "bin" / "linked");
    std::filesystem::create_symlink(dir_ / "nowhere", dir_ / "bin" / "dangling");
    std::filesystem::create_directory(dir_ / "bin" / "folder");
    std::filesystem::create_directory(dir_ / "cwd");
    std::ofstream(dir_ / "cwd" / "here") << "x";
    saved_cwd_ = std::filesystem::current_path();
  }
  void TearDown() override {
    std::filesystem::current_path(saved_cwd_);
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::filesystem::path saved_cwd_;
};

// Found means a regular file, or a link to one, whatever its permissions: the
// run then reports why it cannot start.
TEST_F(ToolOnPath, FindsRegularFilesAndSearchesEmptyEntriesInTheWorkingDirectory) {
  std::filesystem::current_path(dir_ / "cwd");
  const std::string bin = (dir_ / "bin").string();
  const struct {
    std::optional<std::string> path;  // nullopt: unset
    const char* name;
    bool found;
  } cases[] = {
      {"/nonexistent:" + bin, "plain", true},
      {"/nonexistent:" + bin, "linked", true},
      {"/nonexistent:" + bin, "dangling", false},
      {"/nonexistent:" + bin, "folder", false},
      {"/nonexistent:" + bin, "absent", false},
      {"/nonexistent::/also-not", "here", true},
      {std::nullopt, "here", true},  // unset PATH is one empty entry
      {"/nonexistent:/also-not", "here", false},
      {"\xFF:" + bin, "here", true},  // not UTF-8: searched as one empty entry
      {"\xFF:" + bin, "plain", false},
  };
  for (const auto& c : cases) {
    const ScopedPath path(c.path ? c.path->c_str() : nullptr);
    EXPECT_EQ(c.found, tool_on_path(c.name)) << c.path.value_or("(unset)") << " " << c.name;
  }
}

}  // namespace
}  // namespace ferroglade

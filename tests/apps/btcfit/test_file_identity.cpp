// Whether two names lead to the same file (apps/btcfit/file_identity): the guard
// that keeps the report from being written over the deck or pd.dat.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "apps/btcfit/file_identity.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;
namespace fs = std::filesystem;

struct NamePair {
  const char* a;
  const char* b;
  bool same;
};

// In a folder holding the files "deck.in" and "other.in" and the folder
// "sub" (with "sub/deck.in"), run from that folder.
TEST(FileIdentity, NamesOfExistingFiles) {
  const std::string dir = make_work_dir("identity");
  write_file(dir + "/deck.in", "a deck\n");
  write_file(dir + "/other.in", "a deck\n");  // same contents, another file
  fs::create_directories(dir + "/sub");
  write_file(dir + "/sub/deck.in", "a deck\n");
  const auto previous = fs::current_path();
  fs::current_path(dir);
  const std::vector<NamePair> cases = {
      {"deck.in", "deck.in", true},
      {"deck.in", "./deck.in", true},
      {"deck.in", "sub/../deck.in", true},
      {"sub/deck.in", "./sub/./deck.in", true},
      {"deck.in", "other.in", false},
      {"deck.in", "sub/deck.in", false},
      {"deck.in", "missing.in", false},
      {"missing.in", "missing.in", false},  // no file: the same as no other
  };
  for (const NamePair& c : cases) {
    EXPECT_EQ(btcfit::same_existing_file(c.a, c.b), c.same) << c.a << " | " << c.b;
    const std::string absolute = (fs::path(dir) / c.b).string();
    EXPECT_EQ(btcfit::same_existing_file(c.a, absolute), c.same) << c.a << " | " << absolute;
  }
  fs::current_path(previous);
}

TEST(FileIdentity, LinksLeadToTheirFile) {
  const std::string dir = make_work_dir("identity-links");
  write_file(dir + "/deck.in", "a deck\n");
  std::error_code error;
  fs::create_hard_link(dir + "/deck.in", dir + "/hard.in", error);
  if (!error) {
    EXPECT_TRUE(btcfit::same_existing_file(dir + "/deck.in", dir + "/hard.in"));
  }
  fs::create_symlink(dir + "/deck.in", dir + "/soft.in", error);
  if (!error) {
    EXPECT_TRUE(btcfit::same_existing_file(dir + "/deck.in", dir + "/soft.in"));
  }
  if (error) GTEST_SKIP() << "this file system makes no symbolic links: " << error.message();
}

// Names that differ only in case: one file on Windows, two names (and here
// only one existing file) elsewhere.
TEST(FileIdentity, CaseOfNames) {
  const std::string dir = make_work_dir("identity-case");
  write_file(dir + "/deck.in", "a deck\n");
#if defined(_WIN32)
  const bool expected = true;
#else
  const bool expected = false;
#endif
  EXPECT_EQ(btcfit::same_existing_file(dir + "/deck.in", dir + "/DECK.IN"), expected);
  EXPECT_EQ(btcfit::same_file_name(dir + "/pd.dat", dir + "/PD.DAT"), expected);
}

// pd.dat need not exist yet: the names alone decide.
TEST(FileIdentity, NamesOfFilesNotYetWritten) {
  const std::string dir = make_work_dir("identity-new");
  fs::create_directories(dir + "/sub");
  const auto previous = fs::current_path();
  fs::current_path(dir);
  const std::vector<NamePair> cases = {
      {"pd.dat", "pd.dat", true},
      {"./pd.dat", "pd.dat", true},
      {"sub/../pd.dat", "pd.dat", true},
      {"sub/pd.dat", "pd.dat", false},
      {"pd.dat.out", "pd.dat", false},
  };
  for (const NamePair& c : cases) {
    EXPECT_EQ(btcfit::same_file_name(c.a, c.b), c.same) << c.a << " | " << c.b;
    EXPECT_EQ(btcfit::same_file_name((fs::path(dir) / c.a).string(), c.b), c.same) << c.a;
  }
  fs::current_path(previous);
}

}  // namespace

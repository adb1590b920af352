#include "common/journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace mevrik {
namespace {

mode_t modeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(FileJournal, PrivateRecordsOnlyInAPrivateFolder) {
  const std::filesystem::path runtime =
      std::filesystem::temp_directory_path() / ("journal-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(runtime);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    auto journal = FileJournal::open("type-journal-x11-0");
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->read(), std::nullopt);
    ASSERT_TRUE(journal->write("one\n"));
    ASSERT_TRUE(journal->write("two\n"));
    EXPECT_EQ(journal->read(), "two\n");
    EXPECT_EQ(modeOf(runtime / "mevrik"), 0700u);
    EXPECT_EQ(modeOf(runtime / "mevrik" / "type-journal-x11-0"), 0600u);
    journal->remove();
    EXPECT_EQ(journal->read(), std::nullopt);
    EXPECT_EQ(FileJournal::open("../elsewhere"), nullptr);
  }
  // A folder others can enter, or no runtime folder at all: no journal.
  std::filesystem::permissions(runtime / "mevrik", std::filesystem::perms::group_all,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(FileJournal::open("type-journal-x11-0"), nullptr);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(FileJournal::open("type-journal-x11-0"), nullptr);
  std::filesystem::remove_all(runtime);
}

}  // namespace
}  // namespace mevrik

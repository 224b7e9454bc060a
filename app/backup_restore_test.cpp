// app/backup_restore_test.cpp - the start-up's care for the database file
// and its copies, in whole runs in this process: a restore that meets a
// database put in place by another start, links and folders named
// "database.soup", a backup copy refused or stopped by Ctrl-C, a backup that
// fails its check, and the copies a killed run left.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "app/app_test_support.h"
#include "platform/dos_env.h"
#include "platform/dos_errors.h"
#include "platform/folder_turn.h"
#include "platform/host_io.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
using Names = std::vector<std::string>;

class BackupRestoreTest : public ProgramTest {
 protected:
  // runShell on a disk whose marked opens act as told.
  int runShellWith(std::shared_ptr<HostIoBackend> disk, ProgramMode mode = {}) {
    setDefaultIoBackend(std::move(disk));
    const int rc = runShell(std::move(mode));
    setDefaultIoBackend(nullptr);
    return rc;
  }
  void clear() {
    for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
  }
  Names sortedNames(const std::string& prefix = "") const {
    Names names = namesStartingWith(prefix);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::map<std::string, std::string> backups() {
    std::map<std::string, std::string> files;
    for (const auto& name : namesStartingWith("database.soup.bak_")) files[name] = bytes(name);
    return files;
  }
};

// Another start restored first: the copy this one checked cannot take the
// place, so the database standing there is opened and used, and no backup
// is set aside nor said to have failed.
TEST_F(BackupRestoreTest, ARestoreThatFindsADatabasePutInPlaceOpensThatOne) {
  for (const bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "missing" : "does not open");
    clear();
    makeEmptyDatabase("database.soup.bak_1Latest");
    withDatabase("database.soup.bak_1Latest", [](Db& db, newsRoot& root) { addFeed(db, root, "theirs", 2, true); });
    makeEmptyDatabase("database.soup.bak_2KnownGood");
    fs::copy_file(at("database.soup.bak_1Latest"), at("theirs.soup"));
    if (!missing) write("database.soup", "This is not a database.\n");
    const auto kept = backups();
    const int rc = runShellWith(std::make_shared<MarkedOpens>("_Restore_", 0, [&] {
      fs::copy_file(at("theirs.soup"), at("database.soup"), fs::copy_options::overwrite_existing);
    }));
    EXPECT_EQ(rc, 0) << output;
    EXPECT_EQ(output.find("Restored from backup"), std::string::npos) << output;
    EXPECT_EQ(output.find("failed"), std::string::npos) << output;
    EXPECT_EQ(backups(), kept);
    EXPECT_TRUE(namesStartingWith("database.soup_Restore_").empty());
    EXPECT_EQ(namesStartingWith("database.soup_Corrupt_").size(), missing ? 0u : 1u);
    if (!missing) {
      const std::string corrupt = namesStartingWith("database.soup_Corrupt_")[0];
      EXPECT_EQ(bytes(corrupt), "This is not a database.\n");
      EXPECT_NE(output.find("The bad database is now called \"" + corrupt +
                            "\"; the backup another start of the program restored meanwhile is used."),
                std::string::npos)
          << output;
    }
    EXPECT_EQ(bytes("database.soup"), bytes("theirs.soup"));  // closed properly, no new feeds: as it was
  }
}

// The database held open by another start when this one opens it, and
// closed before this one looks again: a sound database is opened again,
// never moved aside and replaced by a backup.
TEST_F(BackupRestoreTest, ADatabaseAnotherStartHeldAtTheOpenIsOpenedAgainNotReplaced) {
  clear();
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](Db& db, newsRoot& root) { addFeed(db, root, "mine", 2, true); });
  makeEmptyDatabase("database.soup.bak_1Latest");
  const auto kept = backups();
  const int held = ::open(at("database.soup").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  // The other start closes it as this one's open has failed and it looks
  // at the file again.
  class ClosedAtTheSecondOpen final : public HostIoBackend {
   public:
    explicit ClosedAtTheSecondOpen(int fd) : fd_(fd) {}
    std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
      const std::string_view name = native.view();
      if ((name == "database.soup" || name.ends_with("/database.soup")) && ++opens_ == 2) ::close(fd_);
      return systemIoBackend()->open(native, mode);
    }
    int syncFolderOf(Text native) override { return systemIoBackend()->syncFolderOf(native); }

   private:
    int fd_;
    int opens_ = 0;
  };
  const int rc = runShellWith(std::make_shared<ClosedAtTheSecondOpen>(held));
  EXPECT_EQ(rc, 0) << output;
  EXPECT_EQ(output.find("Restored from backup"), std::string::npos) << output;
  EXPECT_TRUE(namesStartingWith("database.soup_Corrupt_").empty()) << output;
  EXPECT_EQ(backups(), kept);
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    newsFeed* feed = loadObject_newsFeed(db, root.feedList->infoHeadIndex());
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(feed->title.view(), "mine");
    db.unloadObject(feed);
  });
}

// A link or a folder named "database.soup" is refused in words; nothing is
// made private, renamed or restored over it.
TEST_F(BackupRestoreTest, ALinkOrAFolderNamedDatabaseSoupIsRefusedAsItStands) {
  const std::string where = "Failed to open database, due to:\n\"database.soup\" in \"" + tree.host().string() + "\" is ";
  const std::string link = where + "a symbolic link to \"elsewhere.soup\": the database must be a file of its own there.\n";
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"a link that dangles", [&] { fs::create_symlink("elsewhere.soup", at("database.soup")); }},
      {"a link to a database", [&] {
         makeEmptyDatabase("elsewhere.soup");
         fs::permissions(at("elsewhere.soup"), fs::perms(0644));
         fs::create_symlink("elsewhere.soup", at("database.soup"));
       }},
      {"a folder", [&] { fs::create_directories(at("database.soup/inside")); }},
  };
  for (const auto& [name, make] : cases) {
    SCOPED_TRACE(name);
    clear();
    makeEmptyDatabase("database.soup.bak_2KnownGood");
    make();
    const Names before = sortedNames();
    const auto kept = backups();
    EXPECT_EQ(runShell(), 10);
    EXPECT_NE(output.find(std::string(name) == "a folder" ? where + "a folder, not a database file.\n" : link),
              std::string::npos)
        << output;
    EXPECT_EQ(sortedNames(), before);
    EXPECT_EQ(backups(), kept);
    if (exists("elsewhere.soup")) {
      EXPECT_EQ(fs::status(at("elsewhere.soup")).permissions(), fs::perms(0644));
    }
  }
}

// While the backup copy is made no other start may open the database (a
// copy read while another run writes would mix two states): the run holds
// the data folder's turn from before the close through the copy.
TEST_F(BackupRestoreTest, NoOtherStartOpensTheDatabaseWhileItsBackupIsCopied) {
  clear();
  makeEmptyDatabase("database.soup");
  bool held = false;
  const int rc = runShellWith(std::make_shared<MarkedOpens>("_Copy_", 0, [&] {
    const FolderTurn other(tree.host().string(), [] { return true; });
    held = other.stopped();
  }));
  EXPECT_EQ(rc, 0) << output;
  EXPECT_TRUE(held) << "another start could have opened the database during the copy";
  EXPECT_EQ(sortedNames(), (Names{"database.soup", "database.soup.bak_1Latest"}));
}

// The database was written and closed; only its copy failed or was
// stopped: told in words, 5, the backups as they were, nothing of the copy
// left.
TEST_F(BackupRestoreTest, ABackupCopyRefusedOrStoppedIsToldAndEndsWithFive) {
  const std::string saved = "The database itself was saved and is unchanged.\n";
  const struct {
    int refuse;
    const char* told;
  } cases[] = {
      {EACCES, "The backup copy of the database could not be made, due to:\ndatabase.soup could not be copied: "
               "Permission denied\n"},
      {EROFS, "The backup copy of the database could not be made, due to:\ndatabase.soup could not be copied: "
              "Read-only file system\n"},
      {0, "The backup copy of the database was cancelled (Ctrl-C); the backups are as they were.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    clear();
    makeEmptyDatabase("database.soup");
    const int rc = runShellWith(std::make_shared<MarkedOpens>("_Copy_", c.refuse, [] { dos::signalBreak(); }),
                                [](Db& db, newsRoot& root) { addFeed(db, root, "f", 2, true); });
    EXPECT_EQ(rc, 5);
    EXPECT_NE(output.find(c.told + saved), std::string::npos) << output;
    EXPECT_EQ(output.find("EXCEPTION"), std::string::npos) << output;
    EXPECT_EQ(sortedNames(), Names{"database.soup"});
    EXPECT_EQ(runShell(), 0);  // closed properly: no validation, and backed up now
    EXPECT_EQ(output, "Updated 0 feeds: 0 new items.\n");
    EXPECT_EQ(sortedNames(), (Names{"database.soup", "database.soup.bak_1Latest"}));
  }
}

// A backup that fails its check is damage met while running: told, 10, and
// the next start validates the database and goes on.
TEST_F(BackupRestoreTest, ABackupThatFailsItsCheckEndsWithTen) {
  makeEmptyDatabase("database.soup");
  write("database.soup.bak_1Latest", "not a database");
  setMtime("database.soup.bak_1Latest", 1700000000);
  EXPECT_EQ(runShell(), 10);
  ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
  EXPECT_NE(output.find("The backup \"database.soup.bak_1Latest\" failed validation and is now called \"" +
                        namesStartingWith("database.soup_Corrupt_")[0] + "\"."),
            std::string::npos)
      << output;
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database", 0), 0u) << output;
}

// What runs that ended left goes at the next start; what a running one
// holds stays.
TEST_F(BackupRestoreTest, CopiesLeftByRunsThatEndedGoAtTheNextStart) {
  ::fflush(nullptr);
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  auto owned = [](const char* prefix, unsigned pid) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%08x0badc0de", prefix, pid);
    return std::string(name);
  };
  makeEmptyDatabase("database.soup");
  const Names left = {owned("database.soup_Restore_", static_cast<unsigned>(ended)),
                      owned("database.soup_Copy_", static_cast<unsigned>(ended)), "database.soup_Move_1a2b",
                      "database.soup_Rescue_3c4d", "database.soup.bak_0Temp"};
  const std::string running = owned("database.soup_Restore_", 1);  // init still runs
  for (const std::string& name : left) write(name, std::string(5000, 'x'));
  write(running, "held");
  EXPECT_EQ(runShell(), 0) << output;
  EXPECT_EQ(sortedNames(), (Names{"database.soup", "database.soup.bak_1Latest", running}));
}

}  // namespace
}  // namespace bw::testing_app

// app/app_test_support.h - the fixture of the application tests: a scratch
// program folder ($BRINDLEWORK_PROGDIR), runs of the whole program in this
// process with its console captured, and verbs that seed and inspect the
// database and the backup files there.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/program_run.h"
#include "app/shell_update.h"
#include "app/startup.h"
#include "database/journal_file.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"
#include "platform/assigns.h"
#include "platform/clock.h"
#include "platform/dos_env.h"
#include "platform/dos_errors.h"
#include "platform/host_io.h"
#include "platform/path_test_support.h"

namespace bw::testing_app {

namespace fs = std::filesystem;

class ProgramTest : public ::testing::Test {
 protected:
  testing_paths::TempTree tree{"AppTest"};
  std::string output;

  void SetUp() override {
    ::setenv("BRINDLEWORK_PROGDIR", tree.host().c_str(), 1);
    // Runs without "UpdateAll" build the GUI host: offscreen unless told.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    dos::resetAssigns();
    dos::assignAdd("AppTest", tree.host().string());
    // In-process runs never reach the network: a test that updates feeds
    // installs its own update.
    setShellFeedUpdateForTesting([](cJournaledIndexedObjectSoupDatabase&, newsRoot&, const cEncoding&, newsFeed&) {
      return AddUpdateResult{};
    });
  }
  void TearDown() override {
    setProgramModeForTesting({});
    setShellFeedUpdateForTesting({});
    // A shell run leaves the process in shell mode, where no sign-in starts:
    // the tests after it start as a window's run does.
    dos::setShellMode(false);
    ::unsetenv("BRINDLEWORK_PROGDIR");
    dos::resetAssigns();
    dos::assignAdd("AppTest", tree.host().string());
  }

  // Runs the program with these arguments (after the program name), mode
  // replacing its mode when given; keeps the console output.
  int run(std::vector<std::string> arguments = {}, ProgramMode mode = {}) {
    setProgramModeForTesting(std::move(mode));
    arguments.insert(arguments.begin(), "brindlework");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int rc = runBrindlework(static_cast<int>(arguments.size()), argv.data());
    output = testing::internal::GetCapturedStdout();
    setProgramModeForTesting({});
    return rc;
  }
  int runShell(ProgramMode mode = {}) { return run({"UpdateAll"}, std::move(mode)); }

  // Runs fn with the modules the database and the news model need started,
  // in the program folder as the current directory (between program runs).
  void withModules(const std::function<void()>& fn) {
    ModuleRegistry modules;
    modules.add({"timer", initTimerDevice, closeTimerDevice});
    modules.add({"journal", journalModuleInit, journalModuleEnd});
    addNewsModules(modules);
    modules.initAll();
    const fs::path previous = fs::current_path();
    fs::current_path(tree.host());
    try {
      fn();
    } catch (...) {
      fs::current_path(previous);
      modules.endAll();
      throw;
    }
    fs::current_path(previous);
    modules.endAll();
  }
  // An empty, cleanly closed database (root value 0) named name.
  void makeEmptyDatabase(const std::string& name) {
    withModules([&] {
      cJournaledIndexedObjectSoupDatabase db(0);
      ASSERT_TRUE(db.openNew(Text(name), false, false));
      db.close();
    });
  }
  // Opens the database named name and runs fn on it and its root (made when
  // missing); closes it unless fn closed it.
  void withDatabase(const std::string& name, const std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&)>& fn) {
    withModules([&] {
      cJournaledIndexedObjectSoupDatabase db(0);
      ASSERT_TRUE(db.open(Text(name), false)) << db.infoError().view();
      newsRoot* root = nullptr;
      if (db.infoRootValue() == 0) {
        auto fresh = std::make_unique<newsRoot>();
        fresh->init(&db);
        db.setRootValue(db.createdObject(fresh.get()));
        root = fresh.release();
      } else {
        root = loadObject_newsRoot(db, db.infoRootValue());
      }
      fn(db, *root);
      if (db.isOpen()) {
        db.unloadObject(root);
        db.close();
      }
    });
  }

  // A "database.soup" that repair cannot save: a root whose feed list index
  // names no object, left needing repair.
  void makeUnusableDatabase() {
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      root.feedListIndex = 4000;
      db.saveChangesToObject(&root);
      db.setNeedsRepair(true);
    });
  }

  fs::path at(const std::string& name) const { return tree.host(name); }
  bool exists(const std::string& name) const { return fs::exists(at(name)); }
  std::string bytes(const std::string& name) const {
    std::ifstream in(at(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& name, const std::string& data) const {
    std::ofstream(at(name), std::ios::binary) << data;
  }
  // The modification time in UTC seconds, and setting it.
  int64_t mtime(const std::string& name) const {
    struct stat st {};
    return ::stat(at(name).c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtim.tv_sec) : -1;
  }
  void setMtime(const std::string& name, int64_t seconds) const {
    timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, at(name).c_str(), times, 0), 0) << name;
  }
  std::vector<std::string> namesStartingWith(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tree.host())) {
      std::string n = e.path().filename().string();
      if (n.rfind(prefix, 0) == 0) names.push_back(n);
    }
    return names;
  }
};

// While it lives nothing in the folder can be renamed, yet its files stay
// writable: the immutable flag on the folder (root), else a folder without
// write permission. frozen() is false when neither could be set.
class FrozenFolder {
 public:
  explicit FrozenFolder(const fs::path& folder) : folder_(folder) {
    if (::geteuid() != 0) {
      frozen_ = ::chmod(folder_.c_str(), 0555) == 0;
      return;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      frozen_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) ::close(fd);
  }
  ~FrozenFolder() {
    if (!frozen_) return;
    if (::geteuid() != 0) {
      ::chmod(folder_.c_str(), 0755);
      return;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
  }
  bool frozen() const { return frozen_; }

 private:
  fs::path folder_;
  bool frozen_ = false;
};

// The system disk, but the opens of files whose name holds marker meet what
// a test asks: a refusal with an errno, or an action run at the first one.
class MarkedOpens final : public HostIoBackend {
 public:
  MarkedOpens(std::string marker, int refuse, std::function<void()> first)
      : marker_(std::move(marker)), refuse_(refuse), first_(std::move(first)) {}
  std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
    if (native.view().find(marker_) != std::string_view::npos) {
      if (refuse_ != 0) {
        dos::ioErrFromErrno(refuse_, dos::Access::write);
        return nullptr;
      }
      if (first_) std::exchange(first_, nullptr)();
    }
    return systemIoBackend()->open(native, mode);
  }
  int syncFolderOf(Text native) override { return systemIoBackend()->syncFolderOf(native); }

 private:
  std::string marker_;
  int refuse_;
  std::function<void()> first_;
};

// Appends a stored feed with items (titles, published 1000, 2000, ... in
// list order) at the tail of the root's feed list, in one transaction: one
// commit, however many items; nothing stays loaded.
inline int32_t addFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const std::string& title,
                       int items, bool disabled = false, const std::string& url = "") {
  const int32_t transaction = db.beginTransaction();
  auto feed = std::make_unique<newsFeed>();
  feed->type = Str("RSS 2.0");
  feed->docFormat = feedTypeToDocFormat(feed->type);
  feed->title = Str(title);
  feed->url = Str(url.empty() ? "http://127.0.0.1/" + title : url);
  feed->disabled = disabled;
  feed->setSoup(&db);
  const int32_t index = db.createdObject(feed.get());
  newsFeed* stored = feed.release();
  root.feedList->insertAtTail(index);
  for (int i = 0; i < items; ++i) {
    auto body = std::make_unique<newsItemBody>();
    const int32_t bodyIndex = db.createdAndUnloadObject(body.release());
    auto item = std::make_unique<newsItem>();
    item->title = Str(title + " item " + std::to_string(i));
    item->published = 1000 * (items - i);
    item->feedIndex = index;
    item->bodyIndex = bodyIndex;
    stored->itemList->insertAtTail(db.createdAndUnloadObject(item.release()));
  }
  db.unloadObject(stored);
  db.finishTransaction(transaction);
  return index;
}

// A feed whose one item names another feed, and the database marked for
// validation: the next start mends it and says "Database was repaired.".
inline void damageForARepair(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, "f", 1));
  newsItem* item = loadObject_newsItem(db, feed->itemList->infoHeadIndex());
  item->feedIndex = 77;
  db.saveChangesToObject(item);
  db.unloadObject(item);
  db.unloadObject(feed);
  db.flush();
  db.setNeedsRepair(true);
}

}  // namespace bw::testing_app

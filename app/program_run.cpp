// app/program_run.cpp - start-up and shutdown around the program's mode.
#include "app/program_run.h"

#include <chrono>
#include <filesystem>
#include <unordered_set>

#include "app/backup_dump.h"
#include "app/backup_rotation.h"
#include "app/console_ui.h"
#include "app/database_repair.h"
#include "app/feed_lists_check.h"
#include "app/feed_rescue.h"
#include "app/gui_main.h"
#include "app/gui_news_ui.h"
#include "app/program_identity.h"
#include "app/startup_data_folder.h"
#include "app/shell_update.h"
#include "core/charset.h"
#include "core/exception.h"
#include "database/soup_block_file.h"
#include "gui/host/gui_app_client.h"
#include "news/news_load.h"
#include "news/news_show.h"
#include "news/seen_times.h"
#include "platform/app_host.h"
#include "platform/dos_env.h"
#include "platform/folder_turn.h"
#include "platform/host_file.h"
#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/dos_errors.h"
#include "platform/file_procs.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/owned_names.h"
#include "platform/path.h"
#include "platform/shell_template.h"

namespace bw {
namespace {

ProgramMode gModeForTesting;

constexpr const char* kValidatingText = "Validating database, as it was not closed properly last time...";
constexpr const char* kValidatingListsText = "Validating database, as its links were found damaged...";

// "A", "B" or "C", as the user would write the folders.
std::string folderList(const std::vector<std::string>& folders) {
  std::string list;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (i > 0) list += i + 1 == folders.size() ? " or " : ", ";
    list += "\"" + std::filesystem::path(folders[i]).lexically_normal().string() + "\"";
  }
  return list;
}

// Copies the default database (one of the program's read-only files, the
// first found in PROGDIR:'s folders) into the data folder under a unique
// name first, so a copy cut short never stands as "database.soup". Empty
// when done, else why not, in words.
std::string copyDefaultDatabase(const std::string& dataFolder) {
  const std::string source = std::string("PROGDIR:/") + kDefaultDatabaseName;
  if (!cPath::ExistsPath(Text(source), true)) {
    return std::string("There is no \"") + kDatabaseName + "\" yet, and the default database \"" +
           kDefaultDatabaseName + "\" that a new one is made from was not found in " +
           folderList(dos::lookupDevice("PROGDIR").folders) + ".";
  }
  OwnedFile copy("", kCopyPrefix);
  if (copyFile(source, copy.name()) && makePrivate(copy.name()) && copy.renameTo(kDatabaseName)) return {};
  const std::string why = dos::faultMessage(dos::ioErr());
  // Another start made it first: that one is opened.
  if (entryStandsAt(kDatabaseName)) return {};
  return std::string("The default database \"") + kDefaultDatabaseName + "\" could not be copied into \"" + dataFolder +
         "\": " + why;
}

[[noreturn]] void reportOpenFailure(std::string error) {
  const FormatArguments arguments = {std::move(error)};
  report(programName, "Failed to open database, due to:\n\x1b" "1%s", &arguments);
  raise("ERR", "main(); failed to open database");
}

// A link or a folder named "database.soup" is refused as it stands:
// following it would make a file elsewhere private, or restore a backup
// over the place it points to.
void refuseWhatIsNoDatabaseFile(const std::string& dataFolder) {
  dos::FileInfo info;
  if (!examineWithoutFollowingLink(cPath::ExportPath(kDatabaseName), info)) return;
  const std::string where = std::string("\"") + kDatabaseName + "\" in \"" + dataFolder + "\" is ";
  if (info.entryType == dos::kTypeSoftLink) {
    const PathLink link = cPath::ReadLink(kDatabaseName);
    const std::string target = link.target.isNil() ? std::string() : " to \"" + std::string(link.target.view()) + "\"";
    reportOpenFailure(where + "a symbolic link" + target + ": the database must be a file of its own there.");
  }
  if (info.entryType > 0) reportOpenFailure(where + "a folder, not a database file.");
}

// Whether a failed open failed on the file's content: the file itself opens
// for writing (no lock, permission or folder stands in the way).
bool fileOpensForWriting() {
  cFile probe;
  probe.initialise(0);
  if (!probe.open(kDatabaseName, false, false, false)) return false;
  probe.close();
  return true;
}

// Codes that say nothing about the file's content.
bool notAboutContent(const eException& e) {
  return e.code() == "FULL" || e.code() == "MEM" || e.code() == "BRK" || e.code() == "ERR";
}

// An exception's words without the method that raised it.
std::string problemOf(const eException& e) {
  std::string text = e.message();
  const size_t cut = text.find("(); ");
  return cut == std::string::npos ? text : text.substr(cut + 4);
}

}  // namespace

void setProgramModeForTesting(ProgramMode mode) { gModeForTesting = std::move(mode); }

ProgramRun::~ProgramRun() { finish(false); }

void ProgramRun::run() {
  db_ = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
  auto utf8 = std::make_unique<cEncodingUTF>();
  if (!utf8->load("UTF-8")) raise("ERR", "main(); failed to load UTF-8 encoding");
  utf8_ = std::move(utf8);
  enterProgramDir();
  dos::setShellMode(false);
  if (!parseShellTemplate("UpdateAll/S", nullptr, false)) raise("ERR", "main(); command line does not fit the template");
  shell_ = !pShellParameters::GetParam(0).isNil();
  dos::setShellMode(shell_);
  // The shell's update passes each feed's items once: a small part of the
  // database mapped at a time serves it. The windows keep more mapped: the
  // user comes back to what was read, and the news list walks every feed's
  // list side by side.
  if (shell_) setMappedWindowBudget(kMappedWindowsOnePass);
  // A session's end (SIGTERM, SIGHUP) stops the shell's update as Ctrl-C
  // does, and the database is still written; the windows take them as
  // their kill command.
  if (shell_) dos::breakOnTermination();
  if (!shell_) startGui();
  openDatabase();
  loadRoot();
  loadFeeds();
  updateOldestSeenTime(*root_, nullptr, nullptr, true);
  if (gModeForTesting) {
    gModeForTesting(*db_, *root_);
  } else if (shell_) {
    if (shell_updateAll(*db_, *root_).failed > 0) exitCode_ = kExitSomeFailed;
  } else if (!cGuiHost::Terminating()) {
    // A kill signal during start-up ends the run before any window opens.
    gui(*db_, *root_, &status_);
  }
  shutdown();
}

void ProgramRun::startGui() {
  newAppHost(programName);
  try {
    appHost()->build();
  } catch (const eException& e) {
    // No requester can tell it: the console does.
    if (e.code() == "ERR") consolePrint("Failed to create GUI: no display to open windows on.\n");
    throw;
  }
  guiUi_ = std::make_unique<GuiNewsUiScope>();
  status_.create(programName);
}

void ProgramRun::enterProgramDir() {
  dataFolder_ = dos::dataFolder();
  if (!dataFolder_.error.empty()) return;
  // The data folder itself: a lock of "PROGDIR:" would take the next of its
  // folders (the program's own) were the first one gone.
  programDir_ = dos::lock(Text(dos::hostToNative(dataFolder_.path)), dos::kSharedLock);
  if (!programDir_) {
    dataFolder_.error = dos::faultMessage(dos::ioErr());
    return;
  }
  previousDir_ = dos::currentDir(programDir_);
}

void ProgramRun::openDatabase() {
  if (!dataFolder_.error.empty()) {
    if (dataFolder_.path.empty()) {
      const FormatArguments arguments = {dataFolder_.error};
      report(programName, "Failed to find the data folder, due to:\n\x1b" "1%s", &arguments);
    } else {
      const FormatArguments arguments = {dataFolder_.path, dataFolder_.error};
      report(programName, "Failed to make the data folder \"%s\", due to:\n\x1b" "1%s", &arguments);
    }
    raise("ERR", "main(); failed to make the data folder");
  }
  removeLeftCopies();
  {
    // Starts on one data folder take turns until the database is open and
    // sound: one moving a bad database aside while another opens it would
    // have the open make a new, empty one.
    const auto since = std::chrono::steady_clock::now();
    bool told = false;
    const FolderTurn turn(dataFolder_.path, [&] {
      if (shell_ && !told && std::chrono::steady_clock::now() - since > std::chrono::seconds(1)) {
        consolePrint("Waiting while another start of the program opens the database...\n");
        told = true;
      }
      if (!shell_) cGuiHost::checkForChangedGuiItem(true);  // a kill signal comes through the windows' loop
      return dos::checkBreak() || cGuiHost::Terminating();
    });
    // Ended while waiting: nothing was opened, so nothing is to be written.
    if (turn.stopped()) exitProgram(0);
    moveEarlierDatabase(dataFolder_.path);
    // Another start may put a database in place while this one restores or
    // copies one: that one is opened instead.
    // A database closed cleanly has its lists checked all the same (a quick
    // walk of their links): one whose links loop or lead astray would be
    // used as it stands, its later items taken for new or lost; one list
    // two feeds name would take both feeds' new items.
    auto sound = [&] {
      if (db_->infoNeedsRepair()) return validateDatabase(kValidatingText);
      return listsAndFeedsAgree(*db_) || validateDatabase(kValidatingListsText);
    };
    for (int tries = 1; !openOnce() || !sound(); ++tries) {
      if (tries == 5) reportOpenFailure("other starts of the program kept replacing it.");
    }
  }
  // What an earlier version's rotation left: the database is sound now.
  cPath::DeletePath(kBackupTemp, false, false);
}

bool ProgramRun::openOnce() {
  refuseWhatIsNoDatabaseFile(dataFolder_.path);
  if (!cPath::ExistsPath(kDatabaseName, true)) {
    // Only a folder without a database and without backups is a first
    // start; backups left without their database are restored.
    if (anyBackupExists()) {
      restoreFromBackup(true);
      return false;
    }
    // The soup would make a missing file afresh: a database that is neither
    // there nor copied from the default is a failure to open.
    if (std::string failure = copyDefaultDatabase(dataFolder_.path); !failure.empty()) reportOpenFailure(failure);
    refuseWhatIsNoDatabaseFile(dataFolder_.path);
  }
  // An earlier version made it open to others; its copies follow its mode.
  makePrivate(kDatabaseName);
  db_ = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
  const EntryIdentity tried = entryIdentity(kDatabaseName);
  std::string problem;
  try {
    if (db_->open(kDatabaseName, false)) return true;
    problem = std::string(db_->infoError().view());
  } catch (const eException& e) {
    if (notAboutContent(e)) throw;
    problem = problemOf(e);
  }
  if (!fileOpensForWriting()) reportOpenFailure(problem);
  // Another start had it open then and has closed it since: what it holds
  // was never read, so it is opened again, never judged.
  if (problem.find(kFileHeldByAnother) != std::string::npos) return false;
  // Another start may have restored a backup in its place meanwhile: that
  // one is opened, never moved aside as bad.
  if (entryIdentity(kDatabaseName) == tried) restoreFromBackup(false, problem);
  return false;
}

bool ProgramRun::validateDatabase(const char* reason) {
  const FormatArguments validating = {std::string(reason)};
  if (shell_) {
    printGuiMessage("\n%s", &validating, nullptr, nullptr);
  } else {
    status_.open();
    status_.show(reason);
  }
  RepairResult result;
  Rescue rescue;
  int64_t time = 0;
  bool sound = false;
  bool stopped = false;
  {
    SoupTransaction tx(db_->infoBlockFile());
    time = db_->getTime();
    // Ctrl-C or a session's end stops the repair: everything it wrote goes
    // with the transaction.
    struct PollScope {
      cJournaledIndexedObjectSoup& db;
      ~PollScope() { db.setValidationPoll({}); }
    } pollScope{*db_};
    db_->setValidationPoll([this, shown = std::chrono::steady_clock::now()]() mutable {
      if (!shell_ && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(50)) {
        cGuiHost::checkForChangedGuiItem(true);  // a kill signal comes through the windows' loop
        shown = std::chrono::steady_clock::now();
      }
      if (dos::checkBreak() || cGuiHost::Terminating()) raise("BRK", "repairDatabase(); stopped");
    });
    try {
      result = repairDatabase(*db_, !shell_, true);
    } catch (const eException& e) {
      if (e.code() != "BRK") throw;
      stopped = true;
    }
    if (result.usable) db_->setListFlag(true);
    if (result.usable && !result.lostFeeds.empty() && !db_->infoMustClose()) {
      newsRoot* root = loadObject_newsRoot(*db_, db_->infoRootValue());
      LoadedUse rootUse(*db_, root);
      if (root) rescue = rescueLostFeeds(*db_, *root, result.lostFeeds);
      // The items of lost feeds that the rescue did not take back go now;
      // each feed's line of the summary tells what became of its items.
      std::vector<int32_t> held;
      for (const LostFeed& feed : result.lostFeeds) held.insert(held.end(), feed.items.begin(), feed.items.end());
      if (rescue.unreadBackup.empty()) dropUnrescuedItems(*db_, held);
    }
    // A backup that could not be read drops the whole repair: nothing of
    // the lost feeds goes, and the next start tries again.
    sound = result.usable && rescue.unreadBackup.empty() && !db_->infoMustClose();
    if (sound) tx.finish();
  }
  if (stopped) endStoppedValidation(time);
  // The repair is written before it is told: a disk too full for it ends
  // the run in words, and the next start repairs again.
  if (sound) {
    db_->flush();
    db_->setNeedsRepair(false);
  }
  FormatArguments summary;
  std::string text;
  const char* message = nullptr;
  const FormatArguments* arguments = nullptr;
  if (!result.usable) {
    message = "Database is corrupt & cannot be repaired.\nWill try to restore from a backup...";
  } else if (!rescue.unreadBackup.empty()) {
    message = "A feed was damaged, and the backup \"%s\" that may hold it could not be read, due to:\n\x1b" "1%s\n"
              "Nothing was changed: the repair is tried again at the next start.";
    summary = {rescue.unreadBackup, rescue.why};
    arguments = &summary;
  } else if (result.changed) {
    text = repairSummary(result, rescue.feeds, std::string(programContactAddress), summary);
    message = text.c_str();
    arguments = &summary;
  }
  if (!shell_) {
    if (message) gui_requester(programName, message, "OK", arguments, 0, 0);
    status_.close();
    status_.show("");
  } else if (message) {
    printGuiMessage(message, arguments, nullptr, "\n");
  } else {
    consolePrint("\n");
  }
  if (sound) return true;
  db_->setTime(time);
  db_->closeQuickly();
  if (!rescue.unreadBackup.empty()) raise("ERR", "main(); a backup the repair needs could not be read");
  restoreFromBackup();
  return false;
}

void ProgramRun::endStoppedValidation(int64_t time) {
  if (!shell_) {
    status_.close();
    status_.show("");
  }
  // The open mark stays: the next start validates again.
  db_->setTime(time);
  db_->closeQuickly();
  if (shell_) consolePrint("\nThe check of the database was stopped; it was left as it was and is checked at the next start.\n");
  exitProgram(0);
}

void ProgramRun::loadRoot() {
  const int32_t rootIndex = db_->infoRootValue();
  const bool dump = cPath::ExistsPath(kBackupDumpName, true);
  if (rootIndex != 0) {
    root_ = loadObject_newsRoot(*db_, rootIndex);
    if (!root_) raise("BUG", "main(); the root index names no news root");
    // Loading it into a database that holds feeds would add each of them
    // again: a dump seeds a new database only.
    if (dump) {
      const FormatArguments arguments = {dataFolder_.path};
      report(programName,
             "The dump \"database.backup\" in \"%s\" was not loaded: a dump is loaded only into a new database, "
             "made when the data folder holds neither \"database.soup\" nor its backups.",
             &arguments);
    }
    return;
  }
  {
    SoupTransaction tx(db_->infoBlockFile());
    auto root = std::make_unique<newsRoot>();
    root->init(db_.get());
    const int32_t index = db_->createdObject(root.get());
    root_ = root.release();
    db_->setRootValue(index);
    db_->setListFlag(true);
    if (dump) {
      consolePrint("Loading backup...\n");
      if (!restoreDatabaseBackup(kBackupDumpName, *root_, *db_)) {
        report(programName, "Failed to restore database from corrupt backup.", nullptr);
        raise("ERR", "main(); failed to restore database from corrupt backup");
      }
    }
    tx.finish();
  }
  db_->flush();
  if (dump) {
    consolePrint("Defragmenting...\n");
    db_->defragment(false);
    consolePrint("Finished loading backup..\n");
  }
}

void ProgramRun::loadFeeds() {
  newsFeed** link = &root_->firstLoadedFeed;
  // A damaged feed list that comes back to a feed would chain it twice, and
  // every walk along the chain would go round for ever.
  std::unordered_set<int32_t> chained;
  for (int32_t index = root_->feedList->infoHeadIndex(); index != 0;) {
    newsFeed* feed = chained.insert(index).second ? loadObject_newsFeed(*db_, index) : nullptr;
    if (!feed) raiseLinkDamage("main(); a feed of the feed list cannot be loaded");
    *link = feed;
    link = &feed->nextLoadedFeed;
    newsItem* head = isNewsItemShown(*db_, feed->itemList->infoHeadIndex(), *feed, nullptr);
    feed->newestItemTime = head ? head->infoPublishedDate() : kDateUnset;
    db_->unloadObject(head);
    index = feed->infoNextIndex();
  }
}

void ProgramRun::shutdown() {
  status_.show("Writing outstanding changes to database...");
  db_->flush();
  unloadFeedsAndRoot();
  // A Ctrl-C after the one that stopped the shell update ends the run once
  // everything is written: no defragmentation, no backup.
  if (shell_ && dos::checkBreak()) {
    db_->close();
    return;
  }
  if (db_->infoFragmentation() > 100) {
    status_.show("Defragmenting database...\n(Fragmentation exceeded 10%)");
    db_->defragment(false);
  }
  // No other start opens the database while it is copied: the data
  // folder's turn is taken before the close and held through the backups.
  // A start holding it (its open refused, as this run holds the database)
  // is waited for ten seconds at most.
  const auto since = std::chrono::steady_clock::now();
  const FolderTurn turn(dataFolder_.path,
                        [&] { return std::chrono::steady_clock::now() - since > std::chrono::seconds(10); });
  db_->close();
  status_.show("Backing-up database...");
  StatusLine status;
  if (!shell_) status = [this](std::string_view text) { status_.show(text); };
  try {
    // A backup that failed its check is damage met while running: told,
    // and repaired at the next start.
    if (rotateBackups(!shell_, status).checkFailed) exitCode_ = 10;
  } catch (const eException& e) {
    if (e.code() == "MEM") throw;
    reportBackupFailure(e);
    exitProgram(kExitSomeFailed);
  }
  status_.close();
}

// The database was written and closed; only its backup copy failed, or a
// Ctrl-C stopped it.
void ProgramRun::reportBackupFailure(const eException& e) {
  if (e.code() == "BRK") {
    report(programName,
           "The backup copy of the database was cancelled (Ctrl-C); the backups are as they were.\nThe database "
           "itself was saved and is unchanged.",
           nullptr);
    return;
  }
  if (e.code() == "FULL") {
    dos::FileInfo info;
    const int64_t needed = dos::examinePath(kDatabaseName, true, info, dos::Detail::full) ? info.size : 0;
    const FormatArguments arguments = {needed, dataFolder_.path};
    report(programName,
           "The disk is full: the backup copy of the database could not be made (needed %ld bytes in %s).\nThe "
           "database itself was saved and is unchanged.",
           &arguments);
    return;
  }
  const FormatArguments arguments = {problemOf(e)};
  report(programName,
         "The backup copy of the database could not be made, due to:\n\x1b" "1%s\nThe database itself was saved and "
         "is unchanged.",
         &arguments);
}

void ProgramRun::unloadFeedsAndRoot() {
  if (!root_) return;
  newsFeed* feed = root_->firstLoadedFeed;
  root_->firstLoadedFeed = nullptr;
  while (feed) {
    newsFeed* next = feed->nextLoadedFeed;
    feed->nextLoadedFeed = nullptr;
    db_->unloadObject(feed);
    feed = next;
  }
  newsRoot* root = root_;
  root_ = nullptr;
  db_->unloadObject(root);
}

void ProgramRun::finish(bool exceptionPending) noexcept {
  if (exceptionPending && db_ && db_->isOpen()) {
    try {
      unloadFeedsAndRoot();
    } catch (...) {
    }
    // The open mark stays, so that the next start validates: the exception
    // may have come from a damaged record, which a full close would leave
    // in a file marked sound, to raise again at every start.
    try {
      db_->closeQuickly();
    } catch (...) {
    }
  }
  root_ = nullptr;
  status_.end();
  guiUi_.reset();
  unbuildAppHost();
  utf8_.reset();
  if (previousDir_) dos::currentDir(previousDir_);
  previousDir_ = dos::Lock();
  programDir_ = dos::Lock();
  db_.reset();
}

}  // namespace bw

// app/backup_rotation_restore.cpp - the restore at start-up: the newest
// backup that passes a check takes the bad or missing database's place.
#include <ctime>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/backup_rotation.h"
#include "app/console_ui.h"
#include "app/database_repair.h"
#include "app/program_identity.h"
#include "core/exception.h"
#include "database/soup_block_file.h"
#include "news/news_load.h"
#include "platform/assigns.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/file_procs.h"
#include "platform/links.h"
#include "platform/owned_names.h"
#include "platform/path.h"

namespace bw {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

// Codes that say nothing about a file's content: they end the restore.
bool endsTheRestore(const eException& e) { return e.code() == "FULL" || e.code() == "MEM" || e.code() == "BRK"; }

// The feeds and items a sound database holds.
void count(Db& db, CopyCheck& h) {
  newsRoot* root = db.infoRootValue() ? loadObject_newsRoot(db, db.infoRootValue()) : nullptr;
  if (!root) return;
  LoadedUse rootUse(db, root);
  std::unordered_set<int32_t> seen;
  for (int32_t f = root->feedList ? root->feedList->infoHeadIndex() : 0; f != 0 && seen.insert(f).second;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    if (!feed) return;
    LoadedUse feedUse(db, feed);
    ++h.feeds;
    for (int32_t i = feed->itemList ? feed->itemList->infoHeadIndex() : 0; i != 0 && seen.insert(i).second;
         i = db.readObjectNodeHeader(i).nextIndex) {
      ++h.items;
    }
    f = feed->infoNextIndex();
  }
}

// How putting a checked copy of a backup in place ended.
enum class Placing { placed, failedCheck, databaseStands, notPlaced };

struct Placed {
  Placing end = Placing::notPlaced;
  CopyCheck check;
  std::string why;  // notPlaced: the reason in words
};

// A copy of the backup, checked; when it passes it becomes "database.soup".
Placed restoreCopyOf(const char* backup) {
  OwnedFile copy("", kRestorePrefix);
  Placed p;
  if (!copyFile(backup, copy.name())) {
    // A backup that cannot be read is no failed check: it stays as it is.
    p.why = std::string(backup) + " could not be copied: " + dos::faultMessage(dos::ioErr());
    return p;
  }
  p.check = checkCopy(copy.name(), false, true);
  if (!p.check.good) {
    p.end = Placing::failedCheck;
  } else if (copy.renameTo(kDatabaseName)) {
    p.end = Placing::placed;
  } else {
    p.why = std::string("the copy could not be renamed to ") + kDatabaseName + ": " + dos::faultMessage(dos::ioErr());
    if (entryStandsAt(kDatabaseName)) p.end = Placing::databaseStands;  // another start restored first
  }
  return p;
}

// What the restore left out of the backup it used.
std::string removedNote(int64_t items) {
  if (items == 0) return "";
  if (items == 1) return "\n1 item of it could not be read and was removed.";
  return "\n" + std::to_string(items) + " items of it could not be read and were removed.";
}

// The backup's modification time as local date and time.
std::string savedDate(const char* name) {
  dos::FileInfo info;
  if (!dos::examinePath(Text(name), true, info, dos::Detail::full)) return "at an unknown time";
  std::tm local{};
  const time_t t = static_cast<time_t>(info.mtimeSeconds);
  ::localtime_r(&t, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// The restore's one report: why the database did not open (when it did not)
// leads the text.
void reportRestore(const std::string& problem, const std::string& text, FormatArguments arguments) {
  if (problem.empty()) {
    report(programName, text, &arguments);
    return;
  }
  arguments.insert(arguments.begin(), problem);
  report(programName, std::string("Database is corrupt & cannot be opened, due to:\n\x1b" "1%s\n") + text, &arguments);
}

}  // namespace

CopyCheck checkCopy(Text path, bool verbose, bool dropUnreadable) {
  CopyCheck h;
  auto db = std::make_unique<Db>(2);
  try {
    if (!db->open(path, false)) return h;
    const int64_t time = db->getTime();
    {
      SoupTransaction tx(db->infoBlockFile());
      h.good = repairDatabase(*db, verbose, false).usable && !db->infoMustClose();
      if (!h.good && dropUnreadable && !db->infoMustClose()) {
        // Still the newest copy of everything else: only the items that do
        // not read go. Mended structures or a lost feed leave it failed, so
        // an older backup is tried.
        const RepairResult r = repairDatabase(*db, verbose, true);
        h.good = r.usable && !r.storageMended && r.lostFeeds.empty() && !db->infoMustClose();
        h.itemsRemoved = h.good ? r.itemsRemoved : 0;
      }
      if (h.good) tx.finish();
    }
    if (h.good) count(*db, h);
    db->setTime(time);
    if (h.good) {
      db->setNeedsRepair(true);
      db->setTime(time);
      db->close();
    } else {
      db->closeQuickly();
    }
  } catch (const eException& e) {
    if (endsTheRestore(e)) throw;
    h = CopyCheck{};
  }
  return h;
}

bool anyBackupExists() {
  for (const char* backup : kRestoreOrder)
    if (cPath::ExistsPath(backup, true)) return true;
  return false;
}

void restoreFromBackup(bool databaseMissing, const std::string& problem) {
  std::string corruptName;
  if (!databaseMissing) {
    const Str corrupt = newCorruptName();
    if (renamePath(kDatabaseName, corrupt, false)) {
      corruptName = std::string(corrupt.view());
    } else if (const std::string why = dos::faultMessage(dos::ioErr()); entryStandsAt(kDatabaseName)) {
      reportRestore(problem,
                    "Failed to move the bad database aside, due to:\n\x1b" "1%s\n\nPlease report this problem to:\n\x1b" "1%s",
                    {why, std::string(programContactAddress)});
      raise("ERR", "restoreFromBackup(); failed to move the bad database aside");
    } else {
      databaseMissing = true;  // another start moved it aside first
    }
  }
  const std::string badNote = databaseMissing ? "" : "\nThe bad database is now called \"" + corruptName + "\".";
  const std::string missingNote = databaseMissing ? "The database \"database.soup\" is missing.\n" : "";
  std::vector<const char*> failed;
  for (const char* backup : kRestoreOrder) {
    if (!cPath::ExistsPath(backup, true)) continue;
    Placed p;
    try {
      p = restoreCopyOf(backup);
    } catch (const eException& e) {
      if (e.code() != "FULL") throw;
      // The copy had no room: the backups stay for the next start.
      dos::FileInfo info;
      const int64_t size = dos::examinePath(Text(backup), true, info, dos::Detail::full) ? info.size : 0;
      reportRestore(problem,
                    "%sThe disk is full: the backup \"%s\" could not be restored (it needs %ld bytes in %s).\nEvery "
                    "backup was left as it is; the next start tries again.%s",
                    {missingNote, std::string(backup), size, dos::dataFolderPath(), badNote});
      raise("ERR", "restoreFromBackup(); the disk is full");
    }
    switch (p.end) {
      case Placing::failedCheck:
        failed.push_back(backup);
        continue;
      case Placing::databaseStands:
        // Another start put a database in place while this one checked its
        // copy: that one is opened (and validated) instead.
        if (!databaseMissing) {
          const FormatArguments arguments = {corruptName};
          report(programName, "The bad database is now called \"%s\"; the backup another start of the program "
                 "restored meanwhile is used.", &arguments);
        }
        return;
      case Placing::notPlaced:
        reportRestore(problem,
                      "%sThe backup \"%s\" could not be restored, due to:\n\x1b" "1%s\nEvery backup was left as it "
                      "is.%s",
                      {missingNote, std::string(backup), p.why, badNote});
        raise("ERR", "restoreFromBackup(); a backup could not be restored");
      case Placing::placed:
        break;
    }
    reportRestore(problem,
                  "%sRestored from backup \"%s\" (%ld feeds, %ld items, saved %s).%s\nYou can try using it, by running "
                  "%s again.\n\nAlso, please report this problem to:\n\x1b" "1%s%s",
                  {missingNote, std::string(backup), p.check.feeds, p.check.items, savedDate(backup),
                   removedNote(p.check.itemsRemoved), std::string(programName), std::string(programContactAddress),
                   badNote});
    raise("ERR", "restoreFromBackup(); the database was replaced");
  }
  // None passed: they are set aside, so that the next start begins afresh
  // instead of meeting them again.
  std::string setAside;
  for (const char* backup : failed) {
    const Str name = newCorruptName();
    if (renamePath(backup, name, false)) setAside += "\n\"" + std::string(backup) + "\" failed its check and is now called \"" + std::string(name.view()) + "\".";
  }
  reportRestore(problem, "%sNo more backups available.\n\nPlease report this problem to:\n\x1b" "1%s%s%s",
                {missingNote, std::string(programContactAddress), badNote, setAside});
  raise("ERR", "restoreFromBackup(); no backup could replace the database");
}

}  // namespace bw

// app/backup_rotation.cpp - backup rotation and restore.
#include "app/backup_rotation.h"

#include <memory>

#include "app/console_ui.h"
#include "app/database_repair.h"
#include "app/program_identity.h"
#include "core/exception.h"
#include "database/soup_block_file.h"
#include "platform/dos_errors.h"
#include "platform/file_procs.h"
#include "platform/links.h"
#include "platform/path.h"

namespace bw {
namespace {

void renameIfThere(const char* from, const Str& to) { renamePath(from, to, false); }
void renameIfThere(const char* from, const char* to) { renamePath(from, to, false); }
void deleteIfThere(const char* path) { cPath::DeletePath(path, false, false); }

}  // namespace

Str newCorruptName() { return cPath::MakeUniquePath(1, "", kCorruptPrefix); }

namespace {

void show(const StatusLine& status, std::string_view text) {
  if (status) status(text);
}

// Opens path as a database, runs fn on it and closes it (or answers false
// when it does not open).
template <class Fn>
bool withDatabase(const char* path, Fn fn) {
  auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
  if (!db->open(path, false)) return false;
  fn(*db);
  return true;
}

// The check-only repair of the weekly candidate, leaving its file time.
bool weeklyCandidatePasses(bool verbose, const StatusLine& status) {
  bool passed = false;
  withDatabase(kBackupKnownGood, [&](cJournaledIndexedObjectSoupDatabase& db) {
    show(status, "Validating database before replacing weekly backup...");
    const int64_t time = db.getTime();
    SoupTransaction tx(db.infoBlockFile());
    passed = repairDatabase(db, verbose, false).usable;
    if (passed && !db.infoMustClose()) {
      tx.finish();
      db.setTime(time);
      db.close();
    } else {
      db.setTime(time);
      db.closeQuickly();
    }
  });
  return passed;
}

}  // namespace

// Sets the repair flag of a database file without making it look newer.
void markForRepair(const char* path) {
  withDatabase(path, [](cJournaledIndexedObjectSoupDatabase& db) {
    const int64_t time = db.getTime();
    db.setNeedsRepair(true);
    db.setTime(time);
    db.close();
  });
}

namespace {

void promoteKnownGood(bool verbose, const StatusLine& status) {
  if (isFileNewerBy(kBackupKnownGood, kBackupWeekly, kWeeklyInterval, false, true)) {
    if (weeklyCandidatePasses(verbose, status)) {
      show(status, "Backing-up database...");
      deleteIfThere(kBackupOneWeekOld);
      renameIfThere(kBackupWeekly, kBackupOneWeekOld);
      renameIfThere(kBackupKnownGood, kBackupWeekly);
    } else {
      show(status, "Weekly backup failed validation.\nMarking database for repair at next start.");
      markForRepair(kDatabaseName);
      renameIfThere(kBackupKnownGood, newCorruptName());
      deleteIfThere(kBackupLatest);
      deleteIfThere(kBackupTemp);
    }
  } else if (isFileNewerBy(kBackupKnownGood, kBackupDaily, kDailyInterval, false, true)) {
    deleteIfThere(kBackupOneDayOld);
    renameIfThere(kBackupDaily, kBackupOneDayOld);
    renameIfThere(kBackupKnownGood, kBackupDaily);
  } else {
    deleteIfThere(kBackupKnownGood);
  }
}

}  // namespace

void rotateBackups(bool verbose, const StatusLine& status) {
  if (!isFileNewerBy(kDatabaseName, kBackupLatest, kCopyInterval, false, true)) return;
  deleteIfThere(kBackupTemp);
  if (!copyFile(kDatabaseName, kBackupTemp)) return;
  if (cPath::ExistsPath(kBackupLatest, true)) {
    if (cPath::ExistsPath(kBackupKnownGood, true)) promoteKnownGood(verbose, status);
    renameIfThere(kBackupLatest, kBackupKnownGood);
  }
  renameIfThere(kBackupTemp, kBackupLatest);
}

}  // namespace bw

// app/backup_rotation.cpp - backup rotation and restore.
#include "app/backup_rotation.h"

#include <memory>
#include <string>

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

// The check-only repair of a backup, leaving its file time. A backup that
// does not open, or raises on its content, fails; a full disk or a break
// passes on.
bool backupPasses(const char* path, bool verbose, const StatusLine& status, std::string_view checking) {
  bool passed = false;
  try {
    withDatabase(path, [&](cJournaledIndexedObjectSoupDatabase& db) {
      show(status, checking);
      const int64_t time = db.getTime();
      SoupTransaction tx(db.infoBlockFile());
      passed = repairDatabase(db, verbose, false).usable;
      if (passed && !db.infoMustClose()) {
        tx.finish();
        db.setTime(time);
        db.close();
      } else {
        passed = false;
        db.setTime(time);
        db.closeQuickly();
      }
    });
  } catch (const eException& e) {
    if (e.code() == "FULL" || e.code() == "MEM" || e.code() == "BRK") throw;
    passed = false;
  }
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
    if (backupPasses(kBackupKnownGood, verbose, status, "Validating database before replacing weekly backup...")) {
      show(status, "Backing-up database...");
      deleteIfThere(kBackupOneWeekOld);
      renameIfThere(kBackupWeekly, kBackupOneWeekOld);
      renameIfThere(kBackupKnownGood, kBackupWeekly);
    } else {
      show(status, "Weekly backup failed validation.\nMarking database for repair at next start.");
      // bak_1Latest has just passed its own check: it stays, and becomes
      // the known-good copy; the unchecked fresh copy goes.
      markForRepair(kDatabaseName);
      renameIfThere(kBackupKnownGood, newCorruptName());
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
  if (!copyFile(kDatabaseName, kBackupTemp)) {
    const std::string why = dos::fault(dos::ioErr(), Text(kBackupTemp));
    raise("FILE", "rotateBackups(); " + (why.empty() ? std::string(kBackupTemp) + ": the copy failed" : why));
  }
  if (cPath::ExistsPath(kBackupLatest, true)) {
    // Only a checked copy becomes known good. One that fails holds damage
    // the database had already: the database is marked for repair, the
    // suspect copies go, and the known-good ones stay as they are.
    if (!backupPasses(kBackupLatest, verbose, status, "Validating database before keeping it as known good...")) {
      const Str corrupt = newCorruptName();
      const FormatArguments arguments = {std::string(kBackupLatest), std::string(corrupt.view())};
      report(programName,
             "The backup \"%s\" failed validation and is now called \"%s\".\nThe database will be checked and "
             "repaired at the next start.",
             &arguments);
      markForRepair(kDatabaseName);
      renameIfThere(kBackupLatest, corrupt);
      deleteIfThere(kBackupTemp);
      return;
    }
    if (cPath::ExistsPath(kBackupKnownGood, true)) promoteKnownGood(verbose, status);
    renameIfThere(kBackupLatest, kBackupKnownGood);
  }
  renameIfThere(kBackupTemp, kBackupLatest);
}

}  // namespace bw

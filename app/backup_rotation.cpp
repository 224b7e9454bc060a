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

Str newCorruptName() { return newOwnedName("", kCorruptPrefix); }

void removeLeftCopies() {
  for (const char* prefix : {kCopyPrefix, kRestorePrefix, kMovePrefix, kRescuePrefix}) removeLeftOwnedNames("", prefix);
  deleteIfThere(kBackupTemp);
}

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

// Copies from to a new owned copy, or raises why it cannot: "FULL" for a
// full disk (from copyFile), else "FILE" with the reason in words.
void copyOrRaise(const char* from, const OwnedFile& copy) {
  if (copyFile(from, copy.name())) return;
  const std::string why = dos::faultMessage(dos::ioErr());
  raise("FILE", std::string("rotateBackups(); ") + from + " could not be copied: " +
                    (why.empty() ? std::string("the copy failed") : why));
}

// The check-only repair of a backup, through a copy of its own (the check
// opens it as a database, which writes it).
bool backupPasses(const char* backup, bool verbose, const StatusLine& status, std::string_view checking) {
  OwnedFile copy("", kCopyPrefix);
  copyOrRaise(backup, copy);
  show(status, checking);
  return checkCopy(copy.name(), verbose).good;
}

// Tells that backup failed its check, sets it aside and marks the database
// for repair.
void setAsideFailed(const char* backup) {
  const Str corrupt = newCorruptName();
  const FormatArguments arguments = {std::string(backup), std::string(corrupt.view())};
  report(programName,
         "The backup \"%s\" failed validation and is now called \"%s\".\nThe database will be checked and "
         "repaired at the next start.",
         &arguments);
  markForRepair(kDatabaseName);
  renameIfThere(backup, corrupt);
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

// False when the weekly candidate failed its check.
bool promoteKnownGood(bool verbose, const StatusLine& status) {
  if (isFileNewerBy(kBackupKnownGood, kBackupWeekly, kWeeklyInterval, false, true)) {
    if (!backupPasses(kBackupKnownGood, verbose, status, "Validating database before replacing weekly backup...")) {
      show(status, "Weekly backup failed validation.\nMarking database for repair at next start.");
      // bak_1Latest has just passed its own check: it stays, and becomes
      // the known-good copy; the unchecked fresh copy goes.
      setAsideFailed(kBackupKnownGood);
      return false;
    }
    show(status, "Backing-up database...");
    deleteIfThere(kBackupOneWeekOld);
    renameIfThere(kBackupWeekly, kBackupOneWeekOld);
    renameIfThere(kBackupKnownGood, kBackupWeekly);
  } else if (isFileNewerBy(kBackupKnownGood, kBackupDaily, kDailyInterval, false, true)) {
    deleteIfThere(kBackupOneDayOld);
    renameIfThere(kBackupDaily, kBackupOneDayOld);
    renameIfThere(kBackupKnownGood, kBackupDaily);
  } else {
    deleteIfThere(kBackupKnownGood);
  }
  return true;
}

}  // namespace

Rotation rotateBackups(bool verbose, const StatusLine& status) {
  if (!isFileNewerBy(kDatabaseName, kBackupLatest, kCopyInterval, false, true)) return {};
  deleteIfThere(kBackupTemp);
  OwnedFile fresh("", kCopyPrefix);
  copyOrRaise(kDatabaseName, fresh);
  if (cPath::ExistsPath(kBackupLatest, true)) {
    // Only a checked copy becomes known good. One that fails holds damage
    // the database had already: the database is marked for repair, the
    // suspect copies go, and the known-good ones stay as they are.
    if (!backupPasses(kBackupLatest, verbose, status, "Validating database before keeping it as known good...")) {
      setAsideFailed(kBackupLatest);
      return {true};
    }
    if (cPath::ExistsPath(kBackupKnownGood, true) && !promoteKnownGood(verbose, status)) {
      renameIfThere(kBackupLatest, kBackupKnownGood);
      return {true};
    }
    renameIfThere(kBackupLatest, kBackupKnownGood);
  }
  fresh.renameTo(kBackupLatest);
  return {};
}

}  // namespace bw

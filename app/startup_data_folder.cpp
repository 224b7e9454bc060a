// app/startup_data_folder.cpp - the user's data folder at start-up: made
// private, and given the database an earlier version kept beside the
// executable.
#include "app/startup_data_folder.h"

#include <cstdlib>
#include <vector>

#include "app/backup_rotation.h"
#include "app/console_ui.h"
#include "app/program_identity.h"
#include "core/exception.h"
#include "platform/assigns.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/file_procs.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/owned_names.h"
#include "platform/path.h"

namespace bw {
namespace {

bool overridden() {
  const char* dir = std::getenv("BRINDLEWORK_PROGDIR");
  return dir && *dir;
}

// The database first: once it stands in the data folder nothing moves again.
constexpr const char* kMoved[] = {kDatabaseName, kBackupLatest, kBackupKnownGood, kBackupDaily,
                                  kBackupOneDayOld, kBackupWeekly, kBackupOneWeekOld};

// Copies from (a native path) into the data folder (the current directory)
// under a name of its own, synced, and renames it to name. False (nothing
// left behind) when it cannot.
bool copyInto(const std::string& from, const char* name) {
  OwnedFile copy("", kMovePrefix);
  return copyFile(Text(from), copy.name()) && makePrivate(copy.name()) && copy.renameTo(name);
}

}  // namespace

bool makePrivate(Text native) { return dos::setProtection(native, dos::protectionFromMode(0600)); }

void moveEarlierDatabase(const std::string& dataFolder) {
  if (overridden() || cPath::ExistsPath(kDatabaseName, true)) return;
  const std::string earlier = dos::executableFolder();
  if (earlier == dataFolder) return;
  auto nativeOf = [&](const char* name) {
    return std::string(cPath::ImportFilePath(Text(dos::hostToNative(earlier + "/" + name, ""))).view());
  };
  if (!cPath::ExistsPath(Text(nativeOf(kDatabaseName)), true)) return;
  // The backups follow the database; the database's copy comes last, so
  // that a move cut short is made again in full at the next start.
  std::vector<const char*> moved;
  for (auto it = std::rbegin(kMoved); it != std::rend(kMoved); ++it) {
    const std::string from = nativeOf(*it);
    if (!cPath::ExistsPath(Text(from), true) || cPath::ExistsPath(*it, true)) continue;
    if (!copyInto(from, *it)) {
      const FormatArguments arguments = {from, dataFolder, dos::faultMessage(dos::ioErr())};
      report(programName, "Failed to move \"%s\" to the data folder \"%s\", due to:\n\x1b" "1%s", &arguments);
      raise("ERR", "main(); failed to move the database to the data folder");
    }
    moved.push_back(*it);
  }
  for (const char* name : moved) cPath::DeletePath(Text(nativeOf(name)), true, false);
  const FormatArguments arguments = {earlier, dataFolder};
  report(programName, "The database was moved from \"%s\" to the data folder \"%s\".", &arguments);
}

}  // namespace bw

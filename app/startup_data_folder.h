// app/startup_data_folder.h - the user's data folder at start-up.
//
// The database, its journal, backups and dumps live in the data folder
// (platform/assigns.h), the current directory while the program runs.
// An earlier version kept them beside the executable: with no
// $BRINDLEWORK_PROGDIR and no database in the data folder, they are copied
// over (each synced under a name of its own, then renamed), made private,
// the originals deleted and the user told.
#pragma once

#include <string>

#include "core/str.h"

namespace bw {

// Gives the file at native path mode 0600.
bool makePrivate(Text native);

// Moves an earlier version's database (and its backups) from beside the
// executable into dataFolder, the current directory. A copy that fails is
// told and raises "ERR"; the originals then stay where they were.
void moveEarlierDatabase(const std::string& dataFolder);

}  // namespace bw

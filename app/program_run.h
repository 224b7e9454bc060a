// app/program_run.h - the run between the module initialisers and
// finalisers: the database opened (copied from the default, validated,
// repaired or replaced from a backup), the news root and every feed loaded,
// the chosen mode run, then the database written, defragmented, closed and
// its backups rotated.
//
// Invariants:
//   1. An exception from start-up or the mode skips the rest of the
//      shutdown (flush, defragmentation, rotation); finish() then gives back
//      what is loaded and deletes the database object, which closes quickly
//      so that the next start validates.
//   2. A new database's root and the load of "database.backup" are one
//      commit: a failed load leaves root value 0 and the next start loads
//      the dump again.
//   3. "database.soup" is never a partial copy of the default: the copy is
//      made under a unique name and renamed into place.
//   4. The data folder (the first folder of "PROGDIR:", where every file
//      the run makes goes) is the current directory from start-up until
//      finish(), which puts the previous one back.
//   5. A backup copy that fails (or that a Ctrl-C stops) after the database
//      was closed is told in words and ends the run with 5; the database
//      stays as it was written. A backup that fails its check is told and
//      ends the run with 10.
//   7. A restore never sets a good backup aside because another start put a
//      database in place first: that database is opened instead. A link or
//      a folder named "database.soup" is refused in words, untouched.
//   6. GUI mode builds the application host before the database is opened:
//      without a display the run ends with "ERR" and the database untouched.
#pragma once

#include <functional>
#include <memory>

#include "app/gui_news_ui.h"
#include "app/status_window.h"
#include "core/exception.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "platform/assigns.h"
#include "platform/dos.h"

namespace bw {

// The exit code of a run in which part of the work failed.
inline constexpr int kExitSomeFailed = 5;

// What runs between start-up and shutdown: shell_updateAll in shell mode,
// else the windowed command loop.
using ProgramMode = std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&)>;

// Tests replace the mode's procedure (empty: the program's own).
void setProgramModeForTesting(ProgramMode mode);

class ProgramRun {
 public:
  ProgramRun() = default;
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;
  ~ProgramRun();

  // The whole start-up, the mode's run and the shutdown; raises what ends
  // the run.
  void run();
  // The steps of every ending (after an exception too). Never throws.
  void finish(bool exceptionPending) noexcept;
  // The exit code of a run that ended without an exception: 0, or 5 when
  // part of the work failed (a feed of the shell update).
  int infoExitCode() const { return exitCode_; }

 private:
  void enterProgramDir();
  void openDatabase();
  bool openOnce();
  // Repairs the open database (the start-up's validation); reason is the
  // status text that says why.
  bool validateDatabase(const char* reason);
  // Ends the run after Ctrl-C or a kill signal stopped the validation
  // (time: the file's time before it), the database as it was (exit 0).
  [[noreturn]] void endStoppedValidation(int64_t time);
  void loadRoot();
  void loadFeeds();
  void shutdown();
  void reportBackupFailure(const eException& e);
  void unloadFeedsAndRoot();
  void startGui();

  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db_;
  std::unique_ptr<cEncoding> utf8_;
  dos::DataFolder dataFolder_;
  dos::Lock programDir_;
  dos::Lock previousDir_;
  newsRoot* root_ = nullptr;
  bool shell_ = false;
  int exitCode_ = 0;
  // GUI mode: the news layer's windows and the start-up/shutdown messages.
  std::unique_ptr<GuiNewsUiScope> guiUi_;
  StatusWindow status_;
};

}  // namespace bw

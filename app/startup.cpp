// app/startup.cpp - module start-up order, the outermost exception handler
// and the exit codes; the run itself is app/program_run.cpp.
#include "app/startup.h"

#include <new>

#include "app/console_ui.h"
#include "app/program_identity.h"
#include "app/program_run.h"
#include "core/exception.h"
#include "core/exception_print.h"
#include "core/module_registry.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "database/object_soup.h"
#include "database/transaction_cache.h"
#include "gui/gui_item.h"
#include "gui/host/gui_app_client.h"
#include "news/html_text.h"
#include "news/news_orderings.h"
#include "platform/app_host.h"
#include "platform/argument_line.h"
#include "platform/charset_file_reader.h"
#include "platform/dir_entry_list.h"
#include "platform/dir_walk.h"
#include "platform/assigns.h"
#include "platform/dos.h"
#include "platform/host_io.h"
#include "platform/dos_env.h"
#include "platform/file.h"
#include "platform/libraries.h"
#include "platform/path_procs.h"
#include "platform/shell_template.h"
#include "social/facebook_module.h"
#include "social/service_config.h"
#include "social/twitter_module.h"
#include "web/html_reader.h"
#include "web/http.h"
#include "web/json_reader.h"
#include "web/xml_entities.h"

namespace bw {
namespace {

void initSystemCharsetModule() { initSystemCharset(); }

// The application's own module: the console answers the news layer's
// requesters and reports (the windows' interface replaces it in GUI mode).
ConsoleNewsUi gConsoleUi;
void initApplicationModule() { setNewsUi(&gConsoleUi); }

// Every file the program makes (database, journal, backups, dumps) is the
// user's alone.
void initPrivateFiles() { dos::setCreationMode(0600); }
void endPrivateFiles() { dos::setCreationMode(0666); }
void endApplicationModule() { setNewsUi(nullptr); }

// Modules in start-up order; finalisers run in reverse.
//   1. The DOS layer first: everything else may touch files, the
//      environment or the Ctrl-C flag.
//   2. The libraries (the timer device among them) before anything that
//      reads the clock, such as the unique-name seed.
//   3. The list orderings before the translate engine, whose sorts use them;
//      the engine before the conversion tables built on it, and those
//      before the JSON, XML and HTML readers' tables.
//   4. The application host before the shell parameters, so that the
//      parameters are ended first; the GUI host registers its client with
//      it (without creating any Qt object).
//   5. The application's own module last.
void registerModules(ModuleRegistry& registry) {
  registry.add({"dos", dos::initDosLayer, dos::endDosLayer});
  registry.add({"privateFiles", initPrivateFiles, endPrivateFiles});
  for (const Module& m : libraryModules()) registry.add(m);
  registry.add({"files", initFileModuleGlobals, endFileModule});
  registry.add({"megaListBase", initMegaListBaseModule, endMegaListBaseModule});
  registry.add({"megaListString", initMegaListStringModule, endMegaListStringModule});
  registry.add({"megaList", initMegaListModule, endMegaListModule});
  registry.add({"journal", journalModuleInit, journalModuleEnd});
  registry.add({"translateEngine", initTranslateEngine, endTranslateEngine});
  registry.add({"charset", initTranslateModule, endCharsetModule});
  registry.add({"systemCharset", initSystemCharsetModule, endSystemCharset});
  registry.add({"charsetFiles", initCharsetFileReader, endCharsetFileReader});
  registry.add({"http", initHTTPModule, endHTTPModule});
  registry.add({"json", initJSONModule, endJSONModule});
  registry.add({"xml", initXMLModule, endXMLModule});
  registry.add({"html", initHTMLModule, endHTMLModule});
  registry.add({"news", initNewsModule, endNewsModule});
  registry.add({"newsText", initNewsTextModule, endNewsTextModule});
  registry.add({"twitter", twitterModuleNew, twitterModuleEnd});
  registry.add({"facebook", facebookModuleNew, facebookModuleEnd});
  registry.add({"credentials", nullptr, credentialsModuleEnd});
  registry.add({"argumentString", initArgumentString, endArgumentString});
  registry.add({"uniquePathSeed", initMakeUniquePathSeed, nullptr});
  registry.add({"uniqueNameSeed", initMakeUniqueNameSeed, nullptr});
  registry.add({"recurseCallbacks", initRecurseCallbacks, endRecurseCallbacks});
  registry.add({"recurseDirCallbacks", initRecurseCpathDirCallbacks, endRecurseCpathDirCallbacks});
  registry.add({"appHost", initAppHost, endAppHost});
  registry.add({"guiHost", initGuiHostModule, endGuiHostModule});
  registry.add({"gui", initGuiModule, endGuiModule});
  registry.add({"shellParameters", nullptr, endShellParameters});
  registry.add({"application", initApplicationModule, endApplicationModule});
}

// A structural fault that a read of the database met: the run ends without
// writing more and leaves the database's open mark, so the next start
// validates and repairs it (or restores a backup).
bool isDatabaseDamage(const eException& e) {
  // A stored record that does not decode.
  if (dynamic_cast<const eRecordDamage*>(&e)) return true;
  // A read past the end of the file: a database cut short under the run.
  if (e.code() == "BUG" && e.message().rfind("cHostFile.read", 0) == 0) return true;
  if (e.code() != "BUG" && e.code() != "EMU" && e.code() != "VER") return false;
  for (const char* layer : {"cJournaledFile.", "cJournaledBlockFile.", "cJournaledIndexedBlockFile.",
                            "cJournaledIndexedObjectSoup", "cIndexedObject", "BlockIndex", "BlockHeap"}) {
    if (e.message().rfind(layer, 0) == 0) return true;
  }
  return false;
}

// The exit code of the exception that ended the run: a program exit's own
// return value; 10 for "ERR" (the user was told already), damage and a full
// disk; 5 for a database at its size limit; else 20, after printing the
// exception.
int exitCodeFor(const eException& e) {
  if (const auto* exit = dynamic_cast<const eProgramExit*>(&e)) return exit->returnValue();
  if (e.code() == "ERR") return 10;
  if (isDatabaseDamage(e)) {
    report(programName, "The database is damaged; it will be checked and repaired at the next start.", nullptr);
    return 10;
  }
  // A write the disk had no room for: the commit's journal keeps what was
  // saved before, and the next start validates.
  if (e.code() == "FULL" && e.message().rfind("cHostFile.", 0) == 0) {
    const FormatArguments arguments = {diskFullShortfall(), dos::dataFolderPath()};
    report(programName,
           "The disk is full: the database could not be written (needed %ld bytes in %s).\nWhat was saved before is "
           "kept; the database will be checked at the next start.",
           &arguments);
    return 10;
  }
  // The database file at its size limit: the feed being stored is dropped,
  // what earlier feeds stored was committed with them.
  if (e.code() == "FULL" && e.message().rfind("cJournaledBlockFile.allocate()", 0) == 0) {
    report(programName,
           "The database is full: it has reached its size limit of 4 GB, and the update was stopped.\nWhat was "
           "stored before is kept; deleting feeds or items makes room.",
           nullptr);
    return kExitSomeFailed;
  }
  printException(e);
  return 20;
}

}  // namespace

int runBrindlework(int argc, char** argv) {
  setProgramArguments(argc, argv);
  ModuleRegistry modules;
  int rc = 0;
  {
    ProgramRun run;
    bool pending = true;
    try {
      registerModules(modules);
      modules.initAll();
      run.run();
      pending = false;
      rc = run.infoExitCode();
    } catch (const eException& e) {
      rc = exitCodeFor(e);
    } catch (const std::exception& e) {
      rc = 20;
      printException(e);
    }
    run.finish(pending);
  }
  modules.endAll();
  return rc;
}

}  // namespace bw

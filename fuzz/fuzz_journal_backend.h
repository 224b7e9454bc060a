// fuzz/fuzz_journal_backend.h - what the journaled-file and soup fuzz targets
// share: the journal module opened once, the input as a file image on the
// in-memory backend, and a soup database opened over it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/exception.h"
#include "database/crashing_backend.h"
#include "database/journal_file.h"
#include "database/journaled_soup_file.h"
#include "database/soup_database.h"
#include "platform/clock.h"
#include "platform/path.h"

namespace bw::fuzzing {

// Opens the clock and the journal module, once per program.
inline void initJournal() {
  static const bool ready = [] {
    bw::initTimerDevice();
    bw::journalModuleInit();
    return true;
  }();
  (void)ready;
}

// The name under which the backend keeps the file at `path`.
inline std::string backendName(const char* path) { return std::string(bw::cPath::ExportPath(path).view()); }

// An in-memory backend that holds `image` as the file at `path`.
inline std::shared_ptr<bw::CrashingIoBackend> backendHolding(const char* path, std::vector<uint8_t> image) {
  auto backend = std::make_shared<bw::CrashingIoBackend>();
  backend->setImage(backendName(path), std::move(image));
  return backend;
}

// A soup block file whose every path exists, reading and writing `backend`.
inline std::unique_ptr<bw::JournaledSoupBlockFile> soupFileOn(std::shared_ptr<bw::CrashingIoBackend> backend) {
  auto file = std::make_unique<bw::JournaledSoupBlockFile>(0);
  file->file().setIoBackend(std::move(backend));
  file->setPathProbe([](bw::Text) { return true; });
  return file;
}

// Runs f; an eException it raises (a refusal of damaged data) is an answer,
// not a fault.
template <class F>
void quietly(F&& f) {
  try {
    f();
  } catch (const bw::eException&) {
  }
}

// Opens db at `path`; false when open refuses the file, by answer or by raise.
inline bool opens(bw::cJournaledIndexedObjectSoupDatabase& db, const char* path) {
  try {
    return db.open(path, false);
  } catch (const bw::eException&) {
    return false;
  }
}

}  // namespace bw::fuzzing

// fuzz/fuzz_news_database.h - a news database on an in-memory backend for
// the fuzz targets of the application's database care: opened (made when
// the backend is empty) under "T:", with a stored root.
#pragma once

#include <memory>

#include "core/exception.h"
#include "database/crashing_backend.h"
#include "database/journaled_soup_file.h"
#include "database/soup_database.h"
#include "news/news_load.h"
#include "news/news_objects.h"

namespace bw::fuzzing {

inline constexpr const char* kNewsDatabase = "T:/news.soup";
inline constexpr const char* kNewsDatabaseNative = "T:news.soup";

// The database on backend, or NIL when it does not open.
inline std::unique_ptr<cJournaledIndexedObjectSoupDatabase> openNewsDatabase(
    const std::shared_ptr<CrashingIoBackend>& backend) {
  auto file = std::make_unique<JournaledSoupBlockFile>(0);
  file->file().setIoBackend(backend);
  file->setPathProbe([backend](Text) { return !backend->names().empty(); });
  auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(file));
  try {
    if (!db->open(Text(kNewsDatabase), false)) return nullptr;
  } catch (const eException&) {
    return nullptr;  // a refusal of damaged data, as a FALSE is
  }
  return db;
}

// Stores a new root (with its empty feed list) and answers it, loaded.
inline newsRoot* storeNewsRoot(cJournaledIndexedObjectSoupDatabase& db) {
  auto root = std::make_unique<newsRoot>();
  root->init(&db);
  db.setRootValue(db.createdObject(root.get()));
  return root.release();
}

}  // namespace bw::fuzzing

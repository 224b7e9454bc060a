// database/block_selftests.cpp - the block files' self-tests.
#include "database/block_selftests.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/module_registry.h"
#include "core/ordering.h"
#include "database/block_dumps.h"
#include "database/block_file.h"
#include "database/indexed_block_file.h"
#include "database/transaction_cache.h"
#include "database/validation_report.h"
#include "platform/argument_line.h"
#include "platform/dos_env.h"
#include "platform/libraries.h"
#include "platform/path.h"

namespace bw {
namespace {

constexpr const char* kScratchPath = "ram:/testBlockFile.txt";

void check(cJournaledBlockFile& file, const char* number) {
  if (!file.validate(true, false, false).valid) raise("BUG", number);
}

void writeText(cJournaledBlockFile& file, int64_t position, const char* text) {
  JournalTransaction tx(file);
  file.heap().store().writeData(position, reinterpret_cast<const uint8_t*>(text),
                                static_cast<int64_t>(std::strlen(text)) + 1);
  tx.finish();
}

// The allocation sequence both tests run: allocate(n, text) gives a slot's
// value (a handle or an index), release frees one.
template <class Allocate, class Release>
std::array<int64_t, 10> allocationSequence(Allocate allocate, Release release) {
  std::array<int64_t, 10> slot{};
  slot[0] = allocate(100, "100");
  slot[1] = allocate(200, "200");
  slot[2] = allocate(300, "300");
  release(slot[1]);
  slot[3] = allocate(400, "400");
  release(slot[2]);
  slot[4] = allocate(500, "500");
  slot[5] = allocate(600, "600");
  slot[1] = allocate(200, "b200");
  slot[2] = allocate(300, "b300");
  release(slot[1]);
  slot[1] = 0;
  return slot;
}

template <class File, class Body>
int runSelfTest(Body body) {
  auto file = std::make_unique<File>();
  int rc = 0;
  const eException* failure = nullptr;
  eException caught("", "");
  try {
    file->newFile(0, 2);
    cPath::DeletePath(kScratchPath, false, false);
    if (!file->openNew(kScratchPath, false, false)) raise("FILE", std::string(file->infoError().view()));
    body(*file);
  } catch (const eException& e) {
    caught = e;
    failure = &caught;
  }
  std::printf("Finished.\n");
  if (failure) {
    printException(*failure);
    rc = 20;
  }
  std::fflush(stdout);
  file.reset();
  return rc;
}

}  // namespace

int blockFileSelfTest() {
  return runSelfTest<cJournaledBlockFile>([](cJournaledBlockFile& file) {
    check(file, "1");
    std::printf("Allocating...\n");
    int32_t tx = file.beginTransaction();
    std::array<int64_t, 10> slot = allocationSequence(
        [&](int32_t n, const char* text) {
          int64_t h = file.allocate(n, false);
          writeText(file, h, text);
          return h;
        },
        [&](int64_t h) { file.deallocate(h); });
    file.finishTransaction(tx);
    check(file, "2");
    file.close();
    if (!file.open(kScratchPath, false, false, false)) return;
    std::printf("Reporting...\n");
    dumpBlockFile(file);
    std::printf("Deallocating...\n");
    for (int64_t h : slot) {
      if (h == 0) continue;
      std::printf("Deallocating block %ld which contains \"%s\"\n", static_cast<long>(h),
                  dumpText(file.heap(), h).c_str());
      file.deallocate(h);
    }
    check(file, "3");
    file.close();
  });
}

int indexedBlockFileSelfTest() {
  return runSelfTest<cJournaledIndexedBlockFile>([](cJournaledIndexedBlockFile& file) {
    check(file, "1");
    std::printf("Allocating...\n");
    int32_t tx = file.beginTransaction();
    std::array<int64_t, 10> values = allocationSequence(
        [&](int32_t n, const char* text) {
          IndexedBlock b = file.allocateIndexBlock(n, false);
          writeText(file, file.infoBlockOfIndex(b.index, false), text);
          return int64_t{b.index};
        },
        [&](int64_t index) { file.deallocateIndex(static_cast<int32_t>(index)); });
    std::array<int32_t, 10> slot{};
    for (size_t k = 0; k < slot.size(); ++k) slot[k] = static_cast<int32_t>(values[k]);
    check(file, "2");
    std::printf("Reporting...\n");
    dumpIndexedBlockFile(file);
    std::printf("Indexed blocks:\n");
    dumpIndexList(file, slot);

    std::printf("Compacting...\n");
    std::printf("File size=%ld\n", static_cast<long>(file.getSize()));
    for (int64_t h = file.infoFirstBlock(); h != 0;) {
      int64_t next = file.infoNextUsedBlock(h);
      int32_t space = file.infoFreeSizeBefore(h);
      if (space > 0) {
        MovedBlock m = file.moveBlock(h, 0);
        std::printf("Compacted block position %ld to %ld, due to empty space of %ld\n", static_cast<long>(h + 4),
                    static_cast<long>(m.handle != 0 ? m.handle + 4 : 0), static_cast<long>(space));
      }
      h = next;
    }
    std::printf("File size=%ld\n", static_cast<long>(file.getSize()));
    check(file, "3");
    file.finishTransaction(tx);
    check(file, "4");
    file.close();

    if (!file.open(kScratchPath, false, false, false)) return;
    check(file, "5");
    std::printf("Reporting...\n");
    dumpIndexedBlockFile(file);
    std::printf("Indexed blocks:\n");
    dumpIndexList(file, slot);
    std::printf("Deallocating...\n");
    for (int32_t index : slot) {
      if (index != 0) file.deallocateIndex(index);
    }
    check(file, "6");
    file.close();
  });
}

int runDatabaseSelfTestProgram(int argc, char** argv, int (*test)()) {
  setProgramArguments(argc, argv);
  ModuleRegistry modules;
  int rc = 20;
  try {
    modules.add({"dos", dos::initDosLayer, dos::endDosLayer});
    for (const Module& m : libraryModules()) modules.add(m);
    modules.add({"megaListBase", initMegaListBaseModule, endMegaListBaseModule});
    modules.add({"megaListString", initMegaListStringModule, endMegaListStringModule});
    modules.add({"megaList", initMegaListModule, endMegaListModule});
    modules.add({"journal", journalModuleInit, journalModuleEnd});
    modules.initAll();
    rc = test();
  } catch (const eException& e) {
    printException(e);
  }
  modules.endAll();
  return rc;
}

}  // namespace bw

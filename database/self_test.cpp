// database/self_test.cpp - the journaled file's self-test.
#include "database/self_test.h"

#include <memory>
#include <string>

#include "core/exception.h"
#include "database/journal_file.h"
#include "platform/path.h"

namespace bw {
namespace {

constexpr const char* kTestPath = "ram:/testJournal.txt";

std::string readWhole(cJournaledFile& f) {
  std::string text(static_cast<size_t>(f.getSize()), '\0');
  f.setPosition(0);
  if (!text.empty()) f.read(text.data(), static_cast<int64_t>(text.size()), 0, -1);
  return text;
}

void writeText(cJournaledFile& f, const char* text) {
  f.setPosition(f.write(text, static_cast<int64_t>(std::char_traits<char>::length(text)), 0, false).next);
}

}  // namespace

void journaledFileSelfTest(std::FILE* out) {
  auto file = std::make_unique<cJournaledFile>();
  try {
    cPath::DeletePath(kTestPath, false, false);
    file->newFile('#', 2);
    if (!file->open(kTestPath, false, false, false)) raise("FILE", std::string("open failed: ") + std::string(file->infoError().view()));
    int32_t a = file->beginTransaction();
    writeText(*file, "Hello");
    int32_t b = file->beginTransaction();
    writeText(*file, " world.");
    file->finishTransaction(b);
    file->setPosition(file->getPosition(false) + 1);
    file->write(" Goodbye!", 9, 0, false);
    file->write(" GOOD", 5, 0, false);
    std::string cached = readWhole(*file);
    std::fprintf(out, "CACHED Read \"%s\" (size=%ld)\n", cached.c_str(), static_cast<long>(cached.size()));
    file->finishTransaction(a);
    file->close();
    if (!file->open(kTestPath, false, false, false)) raise("FILE", std::string("open failed: ") + std::string(file->infoError().view()));
    std::string direct = readWhole(*file);
    std::fprintf(out, "Direct Read \"%s\"\n", direct.c_str());
    std::fprintf(out, "They are %s.\n", cached == direct ? "the same" : "DIFFERENT");
    file->close();
  } catch (const eException& e) {
    std::fprintf(out, "EXCEPTION: %s: %s\n", e.code().c_str(), e.message().c_str());
  }
  file.reset();
  std::fprintf(out, "Finished.\n");
}

}  // namespace bw

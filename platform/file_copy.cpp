// platform/file_copy.cpp - makeCopy and cloneFile of cBaseFile: they work only
// through the file interface, so every file class has them.
//
// A copy is always a regular file holding the data: of the source's extras
// it takes the comment and the protection word, never a link, so that a copy
// of a linked file (a database reached through a symlink) is a real backup
// and not a second name for the live file.
#include <algorithm>
#include <vector>

#include "core/exception.h"
#include "platform/dos_env.h"
#include "platform/dos_errors.h"
#include "platform/host_file.h"

namespace bw {
namespace {

constexpr int64_t kCopyBlock = 419430;
constexpr const char kCopySource[] = "cBaseFile.makeCopy()";

// The source's comment and protection word; every other key is unknown.
class CommentAndAttributes final : public cExtra {
 public:
  explicit CommentAndAttributes(cExtra& source) : source_(source) {}
  bool setExtra(cExtra*) override { return false; }
  ExtraChange changeExtra(ExtraKey, const ExtraValue&) override { return {false, true}; }
  ExtraQuery queryExtra(ExtraKey key) override {
    if (key == kExtraCOMM || key == kExtraATTR) return source_.queryExtra(key);
    ExtraQuery q;
    q.unknownKey = true;
    return q;
  }

 private:
  cExtra& source_;
};

}  // namespace

std::unique_ptr<cBaseFile> cBaseFile::makeCopy(Text path) {
  int64_t remembered = getPosition(false);
  if (path.isNil()) raise("EMU", "cBaseFile.makeCopy(); path=NILA");
  if (cPath::ExistsPath(path, false)) {
    setError(kCopySource, "destination file already exists");
    return nullptr;
  }
  std::unique_ptr<cBaseFile> copy;
  bool ok = false;
  try {
    copy = makeFile();
    copy->initialise(0);
    if (copy->open(path, false, true, false)) {
      copyHook(copy.get());
      int64_t size = getSize();
      std::vector<uint8_t> block(static_cast<size_t>(std::max<int64_t>(1, std::min(size, kCopyBlock))));
      copy->setSize(size);
      ok = true;
      for (int64_t pos = 0; pos < size;) {
        setPosition(pos);
        copy->setPosition(pos);
        int64_t n = std::min(size - pos, kCopyBlock);
        ReadResult r = read(block.data(), n, 0, kNoStop);
        if (r.numOfPadBytes != 0) raise("BUG", "cBaseFile.makeCopy(); numOfPadBytes<>0");
        WriteResult w = copy->write(block.data(), n, 0, false);
        pos = w.next;
        if (w.notWritten != 0) {
          setError(kCopySource, "incorrect number of bytes written to host file");
          ok = false;
          break;
        }
        if (dos::checkBreak()) raise("BRK", "Ctrl-C received");
      }
      if (ok) {
        CommentAndAttributes extras(*this);
        ok = copy->setAttributes(getAttributes(), -1) && copy->setExtra(&extras) && copy->setTime(getTime());
        if (!ok) setError(kCopySource, copy->infoError());
        else copy->setPosition(remembered);
      }
    } else {
      setError(kCopySource, copy->infoError());
    }
  } catch (...) {
    copy.reset();
    cPath::DeletePath(path, true, false);
    setPosition(remembered);
    throw;
  }
  setPosition(remembered);
  if (ok) return copy;
  const dos::KeptIoErr reason;
  copy.reset();
  cPath::DeletePath(path, true, false);
  return nullptr;
}

std::unique_ptr<cBaseFile> cBaseFile::cloneFile(bool writable) {
  if (!isOpen()) raise("EMU", "cBaseFile.clone(); file not open");
  std::unique_ptr<cBaseFile> copy = makeFile();
  copy->initialise(infoFillByte());
  if (writable && !infoReadOnly()) return nullptr;
  if (!copy->open(getPath(), !writable, false, false)) return nullptr;
  copy->setPosition(getPosition(false));
  return copy;
}

}  // namespace bw

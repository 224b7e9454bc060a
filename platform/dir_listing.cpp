// platform/dir_listing.cpp - cHostDir::makeEntryList: the names of the open
// directory as a sorted entry list, soft links listed by what they point at.
#include <cstdio>
#include <string>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/dir.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/links.h"

namespace bw {

std::unique_ptr<cDirEntryList> cHostDir::makeEntryList() {
  if (!isOpen()) raise("EMU", "cHostDir.makeEntryList(); dir not open");
  StrChain names;
  int32_t error = 0;
  {
    dos::DirScan scan(lock_, dos::Detail::type);
    if (!scan.ok()) {
      error = dos::ioErr();
    } else {
      dos::FileInfo entry;
      std::string name;
      while (scan.next(entry)) {
        bool isDir = entry.entryType >= 0;
        if (entry.entryType == dos::kTypeSoftLink) {
          // Joined as AddPart joins, so a directory at a device or assign
          // root ("PROGDIR:") gives "PROGDIR:name", not an entry of its parent.
          Str linkPath = nativePath_.empty() ? Str(std::string_view(entry.name))
                                             : strJoinPart(nativePath_, Text(entry.name), false);
          isDir = !dirEntryTypeIsFile(entry.entryType, linkPath);
        }
        name.assign(entry.name);
        if (isDir) name.push_back('/');
        names.emplace_back(name);
      }
      error = dos::ioErr();
      if (error == dos::kErrorNoMoreEntries) error = 0;
    }
  }
  if (error != 0) {
    std::printf("# cHostDir.makeEntryList(); ExAll() failed for path \"%s\" with error %ld (%s).\n",
                nativePath_.c_str(), static_cast<long>(error), dos::faultMessage(error).c_str());
    std::fflush(stdout);
    raise("FILE", faultText(error, "cHostDir.makeEntryList(); ExAll() failed").view());
  }
  return cDirEntryList::fromNames(std::move(names));
}

}  // namespace bw

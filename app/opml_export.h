// app/opml_export.h - writing every loaded feed into an OPML file, and the
// "Export OPML file" dialog that asks for its name.
//
// Invariants:
//   1. The file is UTF-8 in one fixed layout (see the .cpp), one outline per
//      feed of the root's chain of loaded feeds, in chain order.
//   2. Names and addresses are taken in their display form (the user's name
//      or the title, the address as the feed's reader gives it), converted
//      to UTF-8 once and escaped once; "&#160;" stands for the no-break
//      space, so every strict XML reader accepts the file.
//   3. An existing file is replaced only when the user said so: the
//      dialog's save chooser asks before it gives such a name; a typed name
//      of an existing file is refused, and the file is otherwise never put
//      over one.
//   4. The text is written and synced under a new name in the same folder
//      (0600) and renamed onto the name only when whole: on any failure a
//      file that was there keeps its bytes and the new one is removed.
#pragma once

#include <cstdint>
#include <string>

#include "core/charset.h"
#include "core/str.h"
#include "news/news_objects.h"

namespace bw {

class cGuiWindow;

// The whole OPML text of the root's loaded feeds, names in charset.
std::string makeOpmlText(newsRoot& root, const cEncoding& charset);
// What became of the file; true when it was written whole.
struct OpmlWriteResult {
  enum Kind : uint8_t { kWritten, kNotCreated, kNotWritten };
  Kind kind = kWritten;
  std::string reason;  // not written: why, in the system's words
  std::string file;    // not written: the file's host path, as the user names it
  bool kept = false;   // not written: a file that stood at the name is as it was
  explicit operator bool() const { return kind == kWritten; }
};
// Makes the file at an internal path (refusing an existing one unless
// replace) holding the text. kNotCreated when the new file cannot be made
// or put in place (a missing or read-only folder, a folder at the name),
// kNotWritten when a write or the sync fails (a full disk, a quota, an I/O
// error): it never raises for those, and nothing of it concerns the
// database.
OpmlWriteResult makeOpmlDocument(Text path, newsRoot& root, const cEncoding& charset, bool replace = false);
// The "Export OPML file" dialog; returns the quit flag.
bool exportOpmlFile(cGuiWindow* mainWindow, newsRoot& root, const cEncoding& charset);

}  // namespace bw

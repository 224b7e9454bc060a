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
//   3. An existing file is overwritten only when the user said so: the
//      dialog's save chooser asks before it gives such a name; a typed name
//      of an existing file is refused, and the file is otherwise created
//      exclusively.
//   4. A file that could not be written whole is not left behind.
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
  std::string reason;  // kNotWritten: why, in the system's words
  std::string file;    // kNotWritten: the file's host path, as the user names it
  explicit operator bool() const { return kind == kWritten; }
};
// Creates the file at an internal path (refusing an existing one unless
// replace) and writes the text into it. A write or close that fails (a
// full disk, a quota, an I/O error) removes the cut file and answers
// kNotWritten: it never raises, and nothing of it concerns the database.
OpmlWriteResult makeOpmlDocument(Text path, newsRoot& root, const cEncoding& charset, bool replace = false);
// The "Export OPML file" dialog; returns the quit flag.
bool exportOpmlFile(cGuiWindow* mainWindow, newsRoot& root, const cEncoding& charset);

}  // namespace bw

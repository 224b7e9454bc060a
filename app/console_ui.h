// app/console_ui.h - how the program tells the user something on the
// console: printGuiMessage, report and the shell form of gui_requester, and
// the news layer's user interface built on them (shell mode, and GUI mode
// until windows exist).
//
// Invariants:
//   1. Message texts are format texts (core/format_text.h); a NIL argument
//      list prints the text as it stands.
//   2. The console never receives a terminal control from outside: every
//      "\e1" of the formatted line is removed, and every other C0 control
//      but "\n" and "\t", and DEL, that came from an argument prints as "?".
//      Other escapes of the format text itself print as they stand.
//   3. Output goes through fwrite and is flushed after every message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/format_text.h"
#include "core/str.h"
#include "news/ui_seam.h"

namespace bw {

// Where the console output goes (default stdout); nullptr restores it.
void setConsoleStream(std::FILE* stream);
std::FILE* consoleStream();
// Writes text as it stands and flushes.
void consolePrint(std::string_view text);
// Runs before every console write (the shell's progress line clears itself
// there); NIL: nothing.
void setConsoleBeforePrint(void (*before)());

// The formatted, cleaned line of invariant 2 (without the line end).
std::string consoleMessageText(std::string_view text, const FormatArguments* arguments);

// Prints prefix, the cleaned text, "\n", then suffix (NIL: none).
void printGuiMessage(std::string_view text, const FormatArguments* arguments, const char* prefix,
                     const char* suffix);

// With a requester window: a requester with "OK". Else the console form
// (reportOnConsole).
void report(Text title, std::string_view text, const FormatArguments* arguments);
// The console form of a report: a text of two or more lines stands between
// blank lines, a one-line text is followed by one.
void reportOnConsole(std::string_view text, const FormatArguments* arguments);

// In GUI mode the requesters are windows: gui_requester and report hand
// over to this function (NIL: the console, as in shell mode).
using RequesterWindowFunction = int32_t (*)(Text title, std::string_view text, std::string_view buttons,
                                            const FormatArguments* arguments, int32_t wrapWidth, int32_t wrapHeight);
void setRequesterWindow(RequesterWindowFunction window);

// The result a requester with these buttons gives when it is closed: 1 for
// one button, else 0.
int32_t requesterClosedResult(std::string_view buttons);

// With a requester window: that window's answer. Without: prints as report
// and answers the closed result. A wrap width without a wrap height raises
// "EPU".
int32_t gui_requester(Text title, std::string_view text, std::string_view buttons, const FormatArguments* arguments,
                      int32_t wrapWidth, int32_t wrapHeight);

// The news layer's interface on the console: requesters and reports as
// above, and GUI waits that never find a changed item.
class ConsoleNewsUi : public NewsUi {
 public:
  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t wrap1,
                        int32_t wrap2) override;
  void report(Text title, Text text, const RequesterParameters& parameters) override;
  ChangedGuiItem checkForChangedGuiItem() override { return {}; }
  ChangedGuiItem waitForChangedGuiItem() override { return {}; }
};

}  // namespace bw

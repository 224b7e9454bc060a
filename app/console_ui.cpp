// app/console_ui.cpp - console messages and the news layer's console
// interface.
#include "app/console_ui.h"

#include <algorithm>

#include "core/exception.h"

namespace bw {
namespace {

std::FILE* gConsole = nullptr;
RequesterWindowFunction gRequesterWindow = nullptr;
void (*gBeforePrint)() = nullptr;

constexpr std::string_view kHighlight = "\x1b" "1";

bool isControl(unsigned char c) { return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7f; }

}  // namespace

void setRequesterWindow(RequesterWindowFunction window) { gRequesterWindow = window; }

void setConsoleStream(std::FILE* stream) { gConsole = stream; }

std::FILE* consoleStream() { return gConsole ? gConsole : stdout; }

void setConsoleBeforePrint(void (*before)()) { gBeforePrint = before; }

void consolePrint(std::string_view text) {
  if (gBeforePrint) gBeforePrint();
  std::FILE* out = consoleStream();
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

std::string consoleMessageText(std::string_view text, const FormatArguments* arguments) {
  FormattedText formatted = formatTextMarked(text, arguments);
  std::string out;
  out.reserve(formatted.text.size());
  const std::string& t = formatted.text;
  for (size_t i = 0; i < t.size(); ++i) {
    if (std::string_view(t).substr(i, 2) == kHighlight) {
      ++i;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(t[i]);
    out += formatted.fromArgument[i] && isControl(c) ? '?' : t[i];
  }
  return out;
}

void printGuiMessage(std::string_view text, const FormatArguments* arguments, const char* prefix,
                     const char* suffix) {
  std::string line = prefix ? prefix : "";
  line += consoleMessageText(text, arguments);
  line += '\n';
  if (suffix) line += suffix;
  consolePrint(line);
}

void report(Text title, std::string_view text, const FormatArguments* arguments) {
  if (gRequesterWindow) {
    gRequesterWindow(title, text, "OK", arguments, 0, 0);
    return;
  }
  reportOnConsole(text, arguments);
}

void reportOnConsole(std::string_view text, const FormatArguments* arguments) {
  bool lines = std::count(text.begin(), text.end(), '\n') >= 2;
  if (lines) consolePrint("\n");
  printGuiMessage(text, arguments, nullptr, "\n");
  if (lines) consolePrint("\n");
}

int32_t requesterClosedResult(std::string_view buttons) {
  return buttons.find('|') == std::string_view::npos ? 1 : 0;
}

int32_t gui_requester(Text title, std::string_view text, std::string_view buttons, const FormatArguments* arguments,
                      int32_t wrapWidth, int32_t wrapHeight) {
  if (wrapWidth != 0 && wrapHeight == 0) raise("EPU", "gui_requester(); wrapWidth given without wrapHeight");
  if (gRequesterWindow) return gRequesterWindow(title, text, buttons, arguments, wrapWidth, wrapHeight);
  report(title, text, arguments);
  return requesterClosedResult(buttons);
}

int32_t ConsoleNewsUi::gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters,
                                     int32_t wrap1, int32_t wrap2) {
  return bw::gui_requester(title, text.view(), buttons.view(), &parameters, wrap1, wrap2);
}

void ConsoleNewsUi::report(Text title, Text text, const RequesterParameters& parameters) {
  bw::report(title, text.view(), &parameters);
}

}  // namespace bw

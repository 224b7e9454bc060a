// gui/host/core/gui_text.cpp - the escape parser, the text host's prefixes
// and the application names.
#include "gui/host/core/gui_text.h"

#include "core/unicode.h"

namespace bw {

namespace {

constexpr char kEsc = '\x1b';

bool isNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

Str cleanName(Text title, size_t limit, bool spaceKept, char replacement) {
  std::string out(title.nulView().substr(0, limit));
  for (char& c : out) {
    if (!isNameChar(c) && !(spaceKept && c == ' ')) c = replacement;
  }
  return Str(out);
}

}  // namespace

std::string GuiStyledText::plain() const {
  std::string out;
  for (const GuiTextRun& run : runs) out += run.text;
  return out;
}

GuiStyledText parseGuiText(std::string_view text) {
  GuiStyledText result;
  GuiTextStyle style;
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) result.runs.push_back({std::move(pending), style});
    pending.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kEsc) {
      pending += text[i];
      continue;
    }
    if (++i >= text.size()) break;
    char code = text[i];
    GuiTextStyle next = style;
    switch (code) {
      case 'l': result.align = 'L'; break;
      case 'c': result.align = 'C'; break;
      case 'r': result.align = 'R'; break;
      case 'b': next.bold = true; break;
      case 'i': next.italic = true; break;
      case 'u': next.underline = true; break;
      case 'n': next = GuiTextStyle(); break;
      case 'P': {
        size_t close = text.find(']', i);
        if (i + 1 < text.size() && text[i + 1] == '[' && close != std::string_view::npos) {
          int32_t pen = 0;
          for (size_t k = i + 2; k < close && pen < 100000; ++k) {
            if (text[k] >= '0' && text[k] <= '9') pen = pen * 10 + (text[k] - '0');
          }
          next.pen = pen;
          next.numberedPen = true;
          i = close;
        }
        break;
      }
      default:
        if (code >= '0' && code <= '9') {
          next.pen = code - '0';
          next.numberedPen = false;
        }
        break;
    }
    if (!(next == style)) {
      flush();
      style = next;
    }
  }
  flush();
  return result;
}

Str prepareText(Text text, char alignment) {
  switch (alignment) {
    case 'L': return Str(text.view());
    case 'R': return Str("\x1br" + std::string(text.view()));
    case 'C': return Str("\x1b" "c" + std::string(text.view()));
    default: return Str();
  }
}

Str firstLineOf(Text text) {
  size_t p = text.view().find('\n');
  if (p == std::string_view::npos) return Str();
  return Str(text.view().substr(0, p));
}

Str guiAppTitle(Text title) { return cleanName(title, 30, true, ' '); }

Str guiAppBase(Text title) { return cleanName(title, 28, false, '_'); }

GuiTextCodec::GuiTextCodec(std::unique_ptr<cEncoding> system) : system_(std::move(system)) { utf8_.load("UTF-8"); }

std::string GuiTextCodec::toUtf8(Text text) const {
  if (text.isNil() || text.length() == 0) return {};
  return convertStringEncoding(text, *system_, utf8_, text.length(), '?', false, false, nullptr, 0).str();
}

Str GuiTextCodec::fromUtf8(std::string_view text) const {
  if (text.empty()) return Str("");
  return convertStringEncoding(Text(text), utf8_, *system_, static_cast<int32_t>(text.size()), '?', false, false,
                               nullptr, 0);
}

}  // namespace bw

// gui/host/core/gui_text.h - the host's texts: the style escapes the program
// writes into shown texts, the text host's alignment prefix and first line,
// the application's title and base names, and the conversion between the
// system encoding and the toolkit's UTF-8.
//
// Invariants:
//   1. parseGuiText never raises and never hands on an escape: the toolkit
//      only ever gets plain text, so markup in a feed's text shows as typed.
//   2. Escapes (ESC then one character): l c r align; b i u bold, italic,
//      underline; n back to normal; 0-9 a pen (5 highlight, 4 dark); P[n] a
//      pen by number (up to the "]"). Any other ESC drops itself and the
//      character after it; an ESC at the end drops itself.
//   3. GuiTextCodec converts both ways through the system encoding, never
//      Latin-1 or UTF-8 by assumption; what cannot be converted becomes "?".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/charset.h"
#include "core/str.h"

namespace bw {

inline constexpr int32_t kGuiPenDefault = -1;
inline constexpr int32_t kGuiPenDark = 4;
inline constexpr int32_t kGuiPenHighlight = 5;

struct GuiTextStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int32_t pen = kGuiPenDefault;
  bool numberedPen = false;  // pen came from "P[n]": a pen table number
  friend bool operator==(const GuiTextStyle&, const GuiTextStyle&) = default;
};

// One stretch of text in one style.
struct GuiTextRun {
  std::string text;
  GuiTextStyle style;
};

struct GuiStyledText {
  char align = 0;  // 'L', 'C', 'R', or 0 when no alignment escape was met
  std::vector<GuiTextRun> runs;
  // The runs' texts joined.
  std::string plain() const;
};

GuiStyledText parseGuiText(std::string_view text);

// The text host's shown text: 'L' a copy, 'R' "\er" + text, 'C' "\ec" +
// text, any other alignment NIL.
Str prepareText(Text text, char alignment);
// The text before the first line feed (capacity at least 1); NIL when the
// text has none.
Str firstLineOf(Text text);

// The application title cut to 30 characters, every character but a space,
// "-", "_", a digit or an ASCII letter made a space.
Str guiAppTitle(Text title);
// The title cut to 28 characters, every character but "-", "_", a digit or
// an ASCII letter made "_": the name of the settings file.
Str guiAppBase(Text title);

class GuiTextCodec {
 public:
  // Uses the given loaded encoding as the system encoding.
  explicit GuiTextCodec(std::unique_ptr<cEncoding> system);
  std::string toUtf8(Text text) const;
  Str fromUtf8(std::string_view text) const;

 private:
  std::unique_ptr<cEncoding> system_;
  cEncodingUTF utf8_;
};

}  // namespace bw

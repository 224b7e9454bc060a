// core/format_text.h - the program's one formatter for message texts: a
// format text whose "%s", "%ld" and "%lx" take typed arguments in order.
//
// Invariants:
//   1. Nothing is read that was not passed: an argument is a text or a
//      64-bit number held in a FormatArguments vector; a conversion past the
//      last argument gives "" (text) or 0 (number). A text argument to a
//      number conversion, or a number to "%s", is printed as it is (the
//      number in decimal), so no argument can be taken for another kind.
//   2. With no argument list (NIL) the format text is returned unchanged:
//      a literal text holding "%" ("10%)") needs no doubling.
//   3. Conversions: "%%", and "%" [flags "-0+ #"] [width] ["." precision]
//      ["l"] then "s", "d" or "x". Width and precision are clipped at
//      kFormatFieldLimit. Any other sequence after "%" is copied as it
//      stands.
//   4. Never raises except "MEM"; terminates for every input, including the
//      empty text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bw {

using FormatArgument = std::variant<std::string, int64_t>;
using FormatArguments = std::vector<FormatArgument>;

inline constexpr int kFormatFieldLimit = 1024;

// The formatted text, and for each of its bytes whether it came from an
// argument (padding included) rather than from the format text.
struct FormattedText {
  std::string text;
  std::vector<bool> fromArgument;
};

// Formats format with arguments (NIL: the text as it stands).
FormattedText formatTextMarked(std::string_view format, const FormatArguments* arguments);
inline std::string formatText(std::string_view format, const FormatArguments* arguments) {
  return formatTextMarked(format, arguments).text;
}

}  // namespace bw

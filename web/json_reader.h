// web/json_reader.h - cJSON, the JSON reader of the social sources' answers.
//
// A tokeniser (nextToken) and a parser without recursion (parseDocument)
// that read a JSON text into the web document tree. Every member or element
// becomes one node: its name (empty for array elements), its text (the token
// as written: string contents without the quotes and with their escapes,
// numbers and words as they stand; empty for containers) and, in textValue,
// its kind (kJsonObject ... kJsonLiteral). Escapes are decoded only when a
// getter reads a text, through the reader's decoder that every root shares.
//
// Invariants:
//   1. Reading is bounded by the first NUL and by the length given (a length
//      of 0 or less: the first NUL alone); nothing past either is taken
//      (the string scan may look at bytes past the NUL, within the length).
//   2. The parser keeps one current-container pointer and a count of the
//      containers open, no stack: a document that nests arrays and objects
//      deeper than kJsonDepthLimit is refused in words before the level past
//      it is read, so reading takes time linear in the text whatever its
//      nesting; the tree ends and prints without recursion.
//   3. "JSON" exceptions never leave parseDocument(): they become a NIL root
//      and the message. Every other code passes through after the partial
//      tree has been freed; a text given to parseDocument() is closed on
//      every way out.
//   4. Roots share the reader's decoder (the escape rules, the caller's
//      extra rules and a copy of the system charset), so they stay readable
//      after the reader ends.
//   5. A "\u" escape decodes into the encoding the getter converts into: for
//      a UTF-8 target a surrogate pair becomes one 4-byte character and a
//      lone surrogate "?"; a single-byte target gets the system charset's
//      byte, an ASCII approximation or "?", one escape at a time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/charset.h"
#include "core/str.h"
#include "core/translate.h"
#include "web/web_data.h"
#include "web/web_format.h"

namespace bw {

// Token kinds; a node's textValue holds the kind of its value.
constexpr int32_t kJsonEnd = 0;
constexpr int32_t kJsonObject = 1;  // "{" or "}"
constexpr int32_t kJsonArray = 2;   // "[" or "]"
constexpr int32_t kJsonPunct = 4;   // ":" or ","
constexpr int32_t kJsonString = 8;
constexpr int32_t kJsonInteger = 16;  // no "." and no exponent
constexpr int32_t kJsonReal = 32;
constexpr int32_t kJsonLiteral = 64;  // true, false, null

// The deepest nesting of arrays and objects a document may have (the
// outermost container is level 1); the social services' answers nest about
// ten levels.
constexpr int32_t kJsonDepthLimit = 512;

struct JsonToken {
  Str token;  // a new string; "" at the end of the text
  int32_t kind = kJsonEnd;
  int32_t position = 0;  // just behind the token
};

struct JsonParseResult {
  std::unique_ptr<webDataRoot> root;  // NIL on malformed JSON
  Str message;                        // NIL on success
};

// What the "\u" rule's context word points at during one conversion.
struct JsonEscapeContext {
  const cEncoding* target;  // the encoding the replacement is written in
};

// Decodes one "\u" escape (four hexadecimal digits of either case) at the
// offered backslash; entry.word6 is a JsonEscapeContext. Fewer than four
// digits: the "\u" matches itself and stays as written.
class fJsonEscCodeTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fJsonEscCodeTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// A caller's extra rules that each replace a fixed text by a fixed text,
// as fSimpleTranslateMatcher entries do, kept in table order for the direct
// decoder.
class JsonLiteralRules {
 public:
  // FALSE (and nothing kept) when an entry of table (terminator excluded) is
  // not such a rule: its matcher of another class or its match text empty.
  bool assign(const TranslateTable& table);
  bool empty() const { return rules_.empty(); }
  // Whether a JSON escape or a literal rule starts with byte c (FALSE
  // throughout while there is no rule).
  bool mayStart(unsigned char c) const { return starts_[c]; }
  // The match length of the first rule whose text starts rest (0: none),
  // its replacement in replacement.
  size_t matchAt(std::string_view rest, std::string_view& replacement) const;

 private:
  struct Rule {
    std::string_view from, to;
  };
  std::vector<Rule> rules_;
  std::array<bool, 256> starts_{};
};

// The JSON escape rules, then the literal rules (NIL: none), over a UTF-8
// text (not NIL) into UTF-8 in one pass, without the engine: at each
// position the first rule in table order that matches there, matching
// stopped at the first NUL. The same bytes and capacity as the engine.
Str decodeJsonUtf8(Text text, bool nilIfUnchanged, const JsonLiteralRules* extra = nullptr);

// The JSON escape rules followed by the caller's extra rules, run while a
// document string is converted.
class JsonDecoder : public webDecoder {
 public:
  // extraTable: a terminated translate table, or NIL. Its entries (their
  // matchers and texts) must outlive every root that shares this decoder.
  JsonDecoder(std::unique_ptr<cEncoding> systemCharset, const TranslateEntry* extraTable);
  // UTF-8 into UTF-8 with no extra table, or one of literal rules only,
  // takes decodeJsonUtf8, every other case the translate engine
  // (decodeByEngine); both give the same bytes.
  Str decode(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const override;
  // Without an extra table the text as it is.
  Str decodePlainUtf8(Text text, const cEncoding& from, const cEncoding& to) const override;
  Str decodeByEngine(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const;

 private:
  std::unique_ptr<cEncoding> systemCharset_;
  TranslateTable extra_;  // without its terminator
  JsonLiteralRules literal_;
  bool direct_ = true;  // the extra table is literal rules only
};

class cJSON : public webDataFormat {
  BW_CLASS(cJSON, webDataFormat)

 public:
  // The default target of conversions and of "\u" decoding is a clone of
  // systemCharset; raises "BUG" "cJSON.new(); failed to create
  // systemCharset" when it is not a loaded encoding. extraTable as for
  // JsonDecoder.
  cJSON(const cEncoding& systemCharset, const TranslateEntry* extraTable);
  // The same with the system encoding (newSystemEncoding()).
  explicit cJSON(const TranslateEntry* extraTable = nullptr);
  ~cJSON() override = default;
  cJSON(const cJSON&) = delete;
  cJSON& operator=(const cJSON&) = delete;

  // Starts reading buffer in place (no copy): it must stay unchanged until
  // close(). The line number restarts at 1.
  void open(const char* buffer, int32_t length);
  void close();
  bool isOpen() const { return text_ != nullptr; }

  // With a buffer: opens it, parses and closes; raises "EMU" when a text is
  // already open. With NIL: parses the open text and leaves it open; raises
  // "EMU" "cJSON.parseDocument(); not open" when there is none.
  JsonParseResult parseDocument(const char* buffer, int32_t length);

  // The token at position (white space skipped first). Raises "JSON" for an
  // unclosed string or a character no token starts with.
  JsonToken nextToken(int32_t position);

  int32_t infoLineNumber() override { return lineNumber_; }
  Str convertText(Text text, const cEncoding* charset, bool noDecode, bool nilIfUnchanged) override;
  const cEncoding& infoSystemCharset() const { return *systemCharset_; }
  const cEncoding* infoDefaultCharset() const override { return systemCharset_.get(); }
  const std::shared_ptr<const JsonDecoder>& infoDecoder() const { return decoder_; }

 private:
  // A token as a view into the text.
  struct Scan {
    std::string_view token;
    int32_t kind = kJsonEnd;
    int32_t position = 0;
  };
  // nextToken's scan: raises "EMU" for a closed text or a position outside it.
  Scan scan(int32_t position);
  // The same without those checks, for the parser.
  Scan next(int32_t position);
  // A number or word at p, or the "JSON" error.
  Scan scanValue(int32_t p);
  char at(int32_t i) const { return i < length_ ? text_[i] : '\0'; }
  // Cuts length_ at the first NUL, once per text.
  void boundAtNul();
  std::unique_ptr<webDataRoot> parse();

  const char* text_ = nullptr;
  // The given length; once nulBounded_, the bytes before the first NUL.
  int32_t length_ = 0;
  bool nulBounded_ = true;
  int32_t lineNumber_ = 1;
  std::unique_ptr<cEncoding> systemCharset_;
  std::unique_ptr<cEncoding> utf8Encoding_;
  std::shared_ptr<const JsonDecoder> decoder_;
};

// Module globals: the shared "\u" matcher and the empty extra table. The
// matcher is NIL outside initJSONModule .. endJSONModule.
fJsonEscCodeTranslateMatcher* jsonEscCodeMatcher();
const TranslateEntry* jsonEmptyTable();
void initJSONModule();
void endJSONModule();

}  // namespace bw

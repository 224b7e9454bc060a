// web/json_reader.cpp - the JSON tokeniser, the parser's state machine, the
// "\u" escape matcher and the JSON decoding table.
#include "web/json_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>

#include "core/exception.h"
#include "core/system_charset.h"
#include "core/unicode.h"
#include "core/unicode_to_text.h"
#include "web/byte_scan.h"

namespace bw {

namespace {

std::unique_ptr<fJsonEscCodeTranslateMatcher> gEscCodeMatcher;
const TranslateEntry kEmptyTable[] = {{}};

int32_t hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hexadecimal digits of a "\u" escape at s, or -1.
int32_t escapeCode(std::string_view in, size_t s) {
  if (s + 6 > in.size() || in[s] != '\\' || in[s + 1] != 'u') return -1;
  int32_t code = 0;
  for (size_t i = s + 2; i < s + 6; ++i) {
    int32_t d = hexDigit(in[i]);
    if (d < 0) return -1;
    code = code * 16 + d;
  }
  return code;
}

bool isWordChara(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The bytes a number token starts with.
bool isNumberStart(char c) { return c == '-' || isDigit(c); }

// The three words as stored node strings (web/node_text.h), which every
// node whose value is one of them shares.
struct StoredWord {
  uint32_t length;
  char bytes[6];
};
constexpr StoredWord kStoredWords[] = {{4, "true"}, {5, "false"}, {4, "null"}};

// The stored form of a word token of the scanner: its first byte tells
// which.
NodeText storedWord(std::string_view word) {
  return NodeText(kStoredWords[word[0] == 't' ? 0 : word[0] == 'f' ? 1 : 2].bytes);
}

}  // namespace

// ---------------------------------------------------------------------------
// "\u" escapes

TranslateMatch fJsonEscCodeTranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  const auto* context = static_cast<const JsonEscapeContext*>(entry.word6);
  std::string_view in = text.view();
  const size_t s = static_cast<size_t>(position);
  int32_t code = escapeCode(in, s);
  if (!context) return {};
  // A "\u" without four hexadecimal digits stays as written; matching its
  // two bytes keeps the rule alive for the escapes after it.
  if (code < 0) return {position, 2, 2, Str("\\u")};

  int32_t matchLength = 6;
  if (context->target->isOfClass(cEncodingUTF::kClassName) && code >= 0xD800 && code <= 0xDBFF) {
    // A high surrogate followed by a low one is one character.
    int32_t low = escapeCode(in, s + 6);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      matchLength = 12;
    }
  }
  Str replacement = unicodeToEncodingText(code, *context->target, "?", false).toStr();
  int32_t length = replacement.length();
  return {position, matchLength, length, std::move(replacement)};
}

namespace {

// A text the rules left as it was: its capacity is its length.
Str unchangedText(std::string_view text) { return text.empty() ? Str::withCapacity(0) : Str(text); }

// The JSON escape rule that matches at the backslash at i, whose next byte
// lies before the end, in table order (the two-byte escapes, then "\u"): its
// match length (0: none), its replacement in replacement (the bytes of a
// decoded "\u" kept in escape).
size_t jsonEscapeAt(std::string_view all, size_t i, std::string_view& replacement, CharaText& escape) {
  switch (all[i + 1]) {
    case '\\': replacement = "\\"; return 2;
    case '"': replacement = "\""; return 2;
    case '/': replacement = "/"; return 2;
    case 'b': replacement = "\b"; return 2;
    case 'f': replacement = "\f"; return 2;
    case 'n': replacement = "\n"; return 2;
    case 'r': replacement = "\r"; return 2;
    case 't': replacement = "\t"; return 2;
    case 'u': break;
    default: return 0;
  }
  int32_t code = escapeCode(all, i);
  if (code < 0) {
    replacement = "\\u";
    return 2;
  }
  size_t length = 6;
  if (code >= 0xD800 && code <= 0xDBFF) {
    int32_t low = escapeCode(all, i + 6);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      length = 12;
    }
  }
  escape = unicodeToUTF8Text(code, "?");
  replacement = escape.view();
  return length;
}

}  // namespace

bool JsonLiteralRules::assign(const TranslateTable& table) {
  rules_.clear();
  starts_ = {};
  for (const TranslateEntry& e : table) {
    // The engine raises for an empty match; another matcher may match
    // anything. Either keeps the table on the engine.
    if (!e.matcher || e.matcher->className() != fSimpleTranslateMatcher::kClassName || !e.matchText ||
        !*e.matchText) {
      rules_.clear();
      starts_ = {};
      return false;
    }
    rules_.push_back({e.matchText, e.replacementText ? e.replacementText : ""});
    starts_[static_cast<unsigned char>(e.matchText[0])] = true;
  }
  starts_['\\'] = !rules_.empty();
  return true;
}

size_t JsonLiteralRules::matchAt(std::string_view rest, std::string_view& replacement) const {
  for (const Rule& rule : rules_) {
    if (rest.starts_with(rule.from)) {
      replacement = rule.to;
      return rule.from.size();
    }
  }
  return 0;
}

Str decodeJsonUtf8(Text text, bool nilIfUnchanged, const JsonLiteralRules* extra) {
  const std::string_view all = text.view();
  if (extra && extra->empty()) extra = nullptr;
  // Matching stops at the first NUL. Without literal rules most strings hold
  // no escape: one search for a backslash tells, and only a string with one
  // is measured up to its NUL.
  size_t first = 0;
  size_t end = all.size();
  if (!extra) {
    first = all.find('\\');
    if (first == std::string_view::npos) return nilIfUnchanged ? Str() : unchangedText(all);
  }
  end = std::min(all.find('\0'), all.size());
  // The next position at or after i where a rule may start.
  auto next = [&](size_t i) {
    if (!extra) return std::min(all.find('\\', i), end);
    while (i < end && !extra->mayStart(static_cast<unsigned char>(all[i]))) ++i;
    return i;
  };
  std::string out;
  size_t copied = 0;
  bool matched = false;
  for (size_t i = next(first); i < end; i = next(i)) {
    std::string_view replacement;
    CharaText escape;
    size_t length = all[i] == '\\' && i + 1 < end ? jsonEscapeAt(all, i, replacement, escape) : 0;
    if (length == 0 && extra) length = extra->matchAt(all.substr(i, end - i), replacement);
    if (length == 0) {
      ++i;
      continue;
    }
    if (!matched) out.reserve(all.size());
    matched = true;
    out.append(all.substr(copied, i - copied));
    out.append(replacement);
    copied = i + length;
    i = copied;
  }
  if (!matched) return nilIfUnchanged ? Str() : unchangedText(all);
  out.append(all.substr(copied));
  const auto size = static_cast<int32_t>(out.size());
  return Str::adopt(std::move(out), size);
}

fJsonEscCodeTranslateMatcher* jsonEscCodeMatcher() { return gEscCodeMatcher.get(); }
const TranslateEntry* jsonEmptyTable() { return kEmptyTable; }

void initJSONModule() { gEscCodeMatcher = std::make_unique<fJsonEscCodeTranslateMatcher>(); }
void endJSONModule() { gEscCodeMatcher.reset(); }

// ---------------------------------------------------------------------------
// JsonDecoder

JsonDecoder::JsonDecoder(std::unique_ptr<cEncoding> systemCharset, const TranslateEntry* extraTable)
    : systemCharset_(std::move(systemCharset)) {
  for (const TranslateEntry* e = extraTable; e && e->matcher; ++e) extra_.push_back(*e);
  direct_ = literal_.assign(extra_);
  copiesPlainUtf8_ = extra_.empty();
}

Str JsonDecoder::decode(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const {
  if (direct_ && !text.isNil() && isUtf8Document(from) && isUtf8Document(to)) {
    return decodeJsonUtf8(text, nilIfUnchanged, &literal_);
  }
  return decodeByEngine(text, from, to, nilIfUnchanged);
}

Str JsonDecoder::decodePlainUtf8(Text text, const cEncoding& from, const cEncoding& to) const {
  if (extra_.empty()) return unchangedText(text.view());
  return direct_ ? decodeJsonUtf8(text, false, &literal_) : decodeByEngine(text, from, to, false);
}

Str JsonDecoder::decodeByEngine(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const {
  fJsonEscCodeTranslateMatcher* escapes = jsonEscCodeMatcher();
  if (!escapes) raise("BUG", "JsonDecoder.decode(); JSON module not initialised");
  fTranslateMatcher* simple = &sharedSimpleTranslateMatcher();

  // "\u" writes into a UTF-8 target directly; into a single-byte one through
  // the system charset, unless that is UTF-8 itself (its bytes would not be
  // text of the target).
  const cEncoding* escapeTarget = &to;
  if (!to.isOfClass(cEncodingUTF::kClassName) && systemCharset_->isOfClass(cCharset::kClassName))
    escapeTarget = systemCharset_.get();
  JsonEscapeContext context{escapeTarget};

  constexpr size_t kRules = 9;
  const TranslateEntry rules[kRules] = {
      {simple, "\\\\", nullptr, 0, "\\", nullptr},     {simple, "\\\"", nullptr, 0, "\"", nullptr},
      {simple, "\\/", nullptr, 0, "/", nullptr},       {simple, "\\b", nullptr, 0, "\b", nullptr},
      {simple, "\\f", nullptr, 0, "\f", nullptr},      {simple, "\\n", nullptr, 0, "\n", nullptr},
      {simple, "\\r", nullptr, 0, "\r", nullptr},      {simple, "\\t", nullptr, 0, "\t", nullptr},
      {escapes, "\\u", nullptr, 0, nullptr, &context},
  };
  // The usual tables fit on the stack; a long extra table goes to the heap.
  const size_t total = kRules + extra_.size() + 1;
  std::array<TranslateEntry, 24> small{};
  TranslateTable large;
  TranslateEntry* table = small.data();
  if (total > small.size()) {
    large.resize(total);
    table = large.data();
  }
  std::copy(rules, rules + kRules, table);
  std::copy(extra_.begin(), extra_.end(), table + kRules);
  table[total - 1] = TranslateEntry{};
  return convertStringEncoding(text, from, to, text.length(), '?', nilIfUnchanged, false, table, 0);
}

// ---------------------------------------------------------------------------
// cJSON

cJSON::cJSON(const cEncoding& systemCharset, const TranslateEntry* extraTable) {
  systemCharset_ = systemCharset.clone();
  if (!systemCharset_ || systemCharset_->infoName().isNil()) {
    raise("BUG", "cJSON.new(); failed to create systemCharset");
  }
  auto utf8 = std::make_unique<cEncodingUTF>();
  if (!utf8->load("UTF-8")) raise("BUG", "cJSON.new(); failed to create utf8Encoding");
  utf8Encoding_ = std::move(utf8);
  decoder_ =
      std::make_shared<JsonDecoder>(systemCharset_->clone(), extraTable ? extraTable : jsonEmptyTable());
}

namespace {

std::unique_ptr<cEncoding> systemEncoding() {
  std::unique_ptr<cEncoding> encoding = newSystemEncoding();
  if (!encoding) raise("BUG", "cJSON.new(); failed to create systemCharset");
  return encoding;
}

}  // namespace

cJSON::cJSON(const TranslateEntry* extraTable) : cJSON(*systemEncoding(), extraTable) {}

void cJSON::open(const char* buffer, int32_t length) {
  text_ = buffer;
  // The parser stops at a NUL itself; the first one is looked for only when
  // a token is asked for (boundAtNul).
  if (!buffer) {
    length_ = 0;
    nulBounded_ = true;
  } else if (length <= 0) {
    length_ = static_cast<int32_t>(std::strlen(buffer));
    nulBounded_ = true;
  } else {
    length_ = length;
    nulBounded_ = false;
  }
  lineNumber_ = 1;
}

void cJSON::boundAtNul() {
  if (nulBounded_) return;
  const void* nul = std::memchr(text_, '\0', static_cast<size_t>(length_));
  if (nul) length_ = static_cast<int32_t>(static_cast<const char*>(nul) - text_);
  nulBounded_ = true;
}

void cJSON::close() {
  text_ = nullptr;
  length_ = 0;
}

namespace {

// The position of the first byte from q on, before length, that is not a
// digit.
inline int32_t digitsFrom(const char* text, int32_t q, int32_t length) {
  // Eight bytes at a time: a byte is a digit when its high nibble is 3 and
  // adding 6 keeps it so. A carry out of a byte comes only from a non-digit,
  // which lies before any byte it changes, so the lowest flagged byte is the
  // first non-digit.
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
  while (q + 8 <= length) {
    uint64_t bytes;
    std::memcpy(&bytes, text + q, 8);
    if constexpr (std::endian::native == std::endian::big) bytes = __builtin_bswap64(bytes);
    const uint64_t flagged =
        ((bytes & kHigh) | (((bytes + 0x0606060606060606ull) & kHigh) >> 4)) ^ 0x3333333333333333ull;
    if (flagged) return q + std::countr_zero(flagged) / 8;
    q += 8;
  }
  while (q < length && isDigit(text[q])) ++q;
  return q;
}

// The position of the quote that closes a string whose contents start at
// q (the first quote not escaped: a backslash escapes the byte after it),
// or -1 when none comes before length and before the first NUL.
inline int32_t stringEnd(const char* text, int32_t q, int32_t length) {
  while (q < length) {
    q = static_cast<int32_t>(findAnyOf<'"', '\\', '\0'>(text + q, text + length) - text);
    if (q == length || text[q] == '\0') return -1;
    if (text[q] == '"') return q;
    // A backslash escapes the byte after it, unless that is the end.
    if (q + 1 < length && text[q + 1] == '\0') return -1;
    q += 2;
  }
  return -1;
}

}  // namespace

cJSON::Scan cJSON::scan(int32_t position) {
  if (!text_) raise("EMU", "cJSON.nextToken(); not open");
  boundAtNul();
  if (position < 0 || position > length_) raise("EMU", "cJSON.nextToken(); position out of range");
  return next(position);
}

[[gnu::always_inline]] inline cJSON::Scan cJSON::scanValue(int32_t p) {
  const char* base = text_;
  const char c = base[p];
  if (isNumberStart(c)) {
    // Runs of digits, each ended by the first "." or exponent (stepped over
    // once each, the exponent with its sign) or by the end of the number.
    int32_t q = digitsFrom(base, p + 1, length_);
    bool dot = false;
    bool exponent = false;
    for (;;) {
      const char d = at(q);
      if (d == '.' && !dot) {
        dot = true;
        ++q;
      } else if ((d == 'e' || d == 'E') && !exponent) {
        exponent = true;
        ++q;
        if (at(q) == '+' || at(q) == '-') ++q;
      } else {
        break;
      }
      q = digitsFrom(base, q, length_);
    }
    return {std::string_view(base + p, static_cast<size_t>(q - p)),
            dot || exponent ? kJsonReal : kJsonInteger, q};
  }
  // The words start with different bytes: the first byte picks the one
  // that may stand here.
  // Compared in fixed sizes, which the compiler does in place.
  auto word = [&](const char (&w)[5], int32_t n) {
    return p + n <= length_ && std::memcmp(base + p, w, static_cast<size_t>(n)) == 0 ? n : 0;
  };
  int32_t size = 0;
  switch (c) {
    case 't': size = word("true", 4); break;
    case 'f': size = word("fals", 4) && at(p + 4) == 'e' ? 5 : 0; break;
    case 'n': size = word("null", 4); break;
    default: break;
  }
  if (size > 0 && !isWordChara(at(p + size))) {  // not "truex"
    return {std::string_view(base + p, static_cast<size_t>(size)), kJsonLiteral, p + size};
  }
  raise("JSON", "cJSON; nextToken(); malformed JSON (unexpected characters)");
}

// White space, then the one-character tokens and strings here; numbers and
// words in scanValue.
[[gnu::always_inline]] inline cJSON::Scan cJSON::next(int32_t position) {
  const char* base = text_;
  int32_t p = position;
  while (p < length_) {
    const char c = base[p];
    if (c > ' ') break;
    if (c == ' ' && p + 8 <= length_) {
      // Indentation: eight spaces at a time.
      uint64_t block;
      std::memcpy(&block, base + p, 8);
      if (block == 0x2020202020202020ull) {
        p += 8;
        continue;
      }
    }
    if (c == '\n') {
      ++lineNumber_;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      break;
    }
    ++p;
  }
  // The text ends at length_ or at its first NUL.
  if (p >= length_) return {std::string_view(base + p, 0), kJsonEnd, p};
  switch (base[p]) {
    case '\0':
      return {std::string_view(base + p, 0), kJsonEnd, p};
    case ':':
    case ',':
      return {std::string_view(base + p, 1), kJsonPunct, p + 1};
    case '{':
    case '}':
      return {std::string_view(base + p, 1), kJsonObject, p + 1};
    case '[':
    case ']':
      return {std::string_view(base + p, 1), kJsonArray, p + 1};
    case '"': {
      const int32_t quote = stringEnd(base, p + 1, length_);
      if (quote < 0) raise("JSON", "cJSON; nextToken(); malformed JSON (unclosed string)");
      return {std::string_view(base + p + 1, static_cast<size_t>(quote - p - 1)), kJsonString, quote + 1};
    }
    default:
      return scanValue(p);
  }
}

JsonToken cJSON::nextToken(int32_t position) {
  Scan s = scan(position);
  return {Str(s.token), s.kind, s.position};
}

namespace {

// The closing character of a container of the given kind.
char closingChara(bool inArray) { return inArray ? ']' : '}'; }

bool isClosing(std::string_view token, bool inArray) {
  return token.size() == 1 && token[0] == closingChara(inArray);
}


constexpr const char* kExpectedValue = "cJSON.parseDocument(); malformed JSON (expected value, for element)";
std::string tooDeepMessage() {
  return "cJSON.parseDocument(); the document nests arrays and objects deeper than " +
         std::to_string(kJsonDepthLimit) + " levels";
}
constexpr const char* kExpectedComma =
    "cJSON.parseDocument(); malformed JSON (expected \",\" or closing brace after element)";

}  // namespace

std::unique_ptr<webDataRoot> cJSON::parse() {
  int32_t p = 0;
  if (length_ >= 3 && std::memcmp(text_, "\xEF\xBB\xBF", 3) == 0) p = 3;

  auto root = std::make_unique<webDataRoot>();
  auto document = root->makeNode("", nullptr, 0, nullptr);
  webDataNode* container = document.get();

  // Member names repeat through a document: each is stored once in the
  // root's arena and found again through a small cache keyed by its length
  // and first and last bytes (a miss only stores another copy). A slot
  // holds two names, the last found first, so two names of one key that
  // alternate (an object's "created_at" and "protected") both stay.
  std::array<std::array<const char*, 2>, 256> names{};
  auto storedName = [&](std::string_view name) {
    if (name.empty()) return NodeText(root->storeName(name));
    auto& slot = names[(name.size() * 131 + static_cast<unsigned char>(name.front()) * 31 +
                        static_cast<unsigned char>(name.back())) & 255];
    const NodeText first(slot[0]);
    if (first == name) return first;
    NodeText found(slot[1]);
    if (!(found == name)) found = root->storeName(name);
    slot[1] = slot[0];
    slot[0] = found.stored();
    return found;
  };

  // The containers open around the current one; a document is refused
  // before it opens one past the limit.
  int32_t depth = 0;
  auto addContainer = [&](std::string_view name, int32_t kind) {
    if (++depth > kJsonDepthLimit) raise("JSON", tooDeepMessage());
    container = container->addMadeChild(root->makeNode(storedName(name), "", kind));
    container->markPlainText();
  };

  Scan t = next(p);
  if (t.kind != kJsonObject && t.kind != kJsonArray) {
    raise("JSON", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)");
  }
  if (t.token[0] == '}' || t.token[0] == ']') {
    raise("JSON", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)");
  }
  addContainer("", t.kind);
  bool inArray = t.kind == kJsonArray;

  t = next(t.position);
  if (isClosing(t.token, inArray)) {
    // An empty outermost container completes the document; the rest of the
    // text is not read.
    t.kind = kJsonEnd;
  }

  while (t.kind != kJsonEnd) {
    std::string_view name;
    if (!inArray) {
      if (t.kind != kJsonString) {
        raise("JSON",
              "cJSON.parseDocument(); malformed JSON (expected string for name at start of element "
              "inside object)");
      }
      name = t.token;
      // The ":" as a compact text writes it, else the token after white space.
      if (at(t.position) != ':') {
        t = next(t.position);
        if (t.token != ":") {
          raise("JSON",
                "cJSON.parseDocument(); malformed JSON (expected \":\" after string beginning the "
                "element inside object)");
        }
      } else {
        ++t.position;
      }
      t = next(t.position);
    }

    bool completed = false;
    if ((t.kind == kJsonObject || t.kind == kJsonArray) && (t.token[0] == '{' || t.token[0] == '[')) {
      addContainer(name, t.kind);
      inArray = t.kind == kJsonArray;
    } else if (t.kind == kJsonString || t.kind == kJsonInteger || t.kind == kJsonReal ||
               t.kind == kJsonLiteral) {
      NodeText word = t.kind == kJsonLiteral ? storedWord(t.token) : NodeText();
      webDataNode* added = container->addMadeChild(word ? root->makeNode(storedName(name), word, t.kind)
                                                        : root->makeNode(storedName(name), t.token, t.kind));
      // Only a string can hold an escape.
      if (t.kind != kJsonString) added->markPlainText();
      completed = true;
    } else {
      raise("JSON", kExpectedValue);
    }

    // The "," as a compact text writes it before the next element.
    if (completed && at(t.position) == ',') {
      t = next(t.position + 1);
      continue;
    }
    t = next(t.position);
    while (isClosing(t.token, inArray)) {
      if (container == document.get()) {
        raise("JSON", "cJSON.parseDocument(); malformed JSON (extra closing brace)");
      }
      container = container->getParent();
      --depth;
      if (!container) raise("BUG", "cJSON.parseDocument(); parentNode=NIL (1)");
      inArray = (container->getTextValue() & kJsonArray) != 0;
      t = next(t.position);
      completed = true;
    }

    if (completed && t.kind != kJsonEnd) {
      if (t.token != ",") {
        raise("JSON", kExpectedComma);
      }
      t = next(t.position);
    }
  }

  // Containers still open at the end of the text stay as they are.
  root->setContents(document->infoChildren(), Str("UTF-8"), Str(), utf8Encoding_->clone(),
                    systemCharset_->clone(), decoder_);
  return root;
}

JsonParseResult cJSON::parseDocument(const char* buffer, int32_t length) {
  struct Closer {
    cJSON* reader;
    ~Closer() {
      if (reader) reader->close();
    }
  } closer{nullptr};
  if (buffer) {
    if (text_) {
      raise("EMU",
            "cJSON.parseDocument(); cannot load supplied contents since open() has already been "
            "used");
    }
    open(buffer, length);
    closer.reader = this;
  } else if (!text_) {
    raise("EMU", "cJSON.parseDocument(); not open");
  }
  try {
    return {parse(), Str()};
  } catch (const eException& e) {
    if (e.code() != "JSON") throw;
    return {nullptr, Str(e.message())};
  }
}

Str cJSON::convertText(Text text, const cEncoding* charset, bool noDecode, bool nilIfUnchanged) {
  if (text.isNil()) return Str();
  const cEncoding& to = charset ? *charset : *systemCharset_;
  if (noDecode) return convertDocumentText(text, *utf8Encoding_, to, nilIfUnchanged);
  return decoder_->decode(text, *utf8Encoding_, to, nilIfUnchanged);
}

}  // namespace bw

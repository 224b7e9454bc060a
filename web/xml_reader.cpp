// web/xml_reader.cpp - cXML: prolog and encoding, tag scanning, tree
// building.
#include "web/xml_reader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/exception.h"
#include "core/system_charset.h"
#include "core/unicode.h"
#include "core/utf8.h"
#include "web/byte_scan.h"
#include "web/control_chars.h"
#include "web/text_decoding.h"

namespace bw {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// White space of the tag scanner: space, tab, line feed, carriage return.
bool isXmlWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && startsWithIgnoringCase(a, b);
}

struct TokenView {
  bool found = false;
  std::string_view token;
  size_t position = 0;
};

struct AttributeView {
  std::string_view name;  // empty at the end of the tag
  bool hasValue = false;
  std::string_view value;
  size_t position = 0;
};

// White space after a token, passed over.
size_t skipWhite(std::string_view tag, size_t p) {
  while (p < tag.size() && isXmlWhite(tag[p])) ++p;
  return p;
}

// `readable` is how far bytes may be read behind the tag (at least to its
// end; inside the document, to the document's end), so that a short name
// is scanned in one block.
TokenView nextToken(std::string_view tag, size_t p, const char* readable) {
  if (p >= tag.size()) return {false, {}, p};
  const char c = tag[p];
  size_t end;
  if (c == '=') {
    end = p + 1;
  } else if (c == '"' || c == '\'') {
    size_t close = tag.find(c, p + 1);
    if (close == std::string_view::npos) {
      raise("XML", "cXML; tagNextToken(); malformed XML, string not closed");
    }
    end = close + 1;
  } else {
    // A name runs to white space, "=" or a "/" after its first byte.
    end = p;
    if (!isXmlWhite(c)) {
      const char* from = tag.data() + p + 1;
      end = static_cast<size_t>(findAnyOfWithin<' ', '\t', '\n', '\r', '=', '/'>(from, tag.data() + tag.size(), readable) -
                                tag.data());
    }
  }
  return {true, tag.substr(p, end - p), skipWhite(tag, end)};
}

AttributeView nextAttribute(std::string_view tag, size_t p, const char* readable) {
  TokenView name = nextToken(tag, p, readable);
  if (!name.found) return {{}, false, {}, p};
  if (name.position >= tag.size() || tag[name.position] != '=') {
    return {name.token, false, {}, name.position};
  }
  // The common case, name="value", without the general token steps.
  const size_t open = skipWhite(tag, name.position + 1);
  if (open < tag.size() && (tag[open] == '"' || tag[open] == '\'')) {
    const char* from = tag.data() + open + 1;
    const char* const limit = tag.data() + tag.size();
    const char* quote = tag[open] == '"' ? findAnyOfWithin<'"'>(from, limit, readable)
                                         : findAnyOfWithin<'\''>(from, limit, readable);
    if (quote != limit) {
      const auto close = static_cast<size_t>(quote - tag.data());
      return {name.token, true, tag.substr(open + 1, close - open - 1), skipWhite(tag, close + 1)};
    }
  }
  TokenView equals = nextToken(tag, name.position, readable);
  TokenView value = nextToken(tag, equals.position, readable);
  if (!value.found) {
    raise("XML", "cXML; tagNextAttribute(); malformed XML, unexpected end of document");
  }
  if (value.token[0] != '"' && value.token[0] != '\'') {
    raise("XML", "cXML; tagNextAttribute(); malformed XML, expected string");
  }
  return {name.token, true, value.token.substr(1, value.token.size() - 2), value.position};
}

// nextAttribute(tag, 0), the tag's first name, read inline for a name
// that starts with an ordinary byte and has no "=" after it (every tag but
// odd ones).
AttributeView firstName(std::string_view tag, const char* readable) {
  if (tag.empty() || tag[0] == '=' || tag[0] == '"' || tag[0] == '\'' || isXmlWhite(tag[0])) {
    return nextAttribute(tag, 0, readable);
  }
  const char* stop = findAnyOfWithin<' ', '\t', '\n', '\r', '=', '/'>(tag.data() + 1, tag.data() + tag.size(), readable);
  const auto end = static_cast<size_t>(stop - tag.data());
  const size_t position = skipWhite(tag, end);
  if (position < tag.size() && tag[position] == '=') return nextAttribute(tag, 0, readable);
  return {tag.substr(0, end), false, {}, position};
}

// The ">" that ends the tag whose "<" is at p, or npos when there is none:
// a ">" inside a quoted attribute value (a quote after "=" and optional
// white space, running to the same quote) does not end the tag, and a "<"
// anywhere before the end drops it.
size_t tagEnd(std::string_view all, size_t p) {
  const char* const begin = all.data();
  const char* const end = begin + all.size();
  for (const char* i = begin + p + 1;;) {
    i = findAnyOf<'>', '<', '='>(i, end);
    if (i == end || *i == '<') return std::string_view::npos;
    if (*i == '>') return static_cast<size_t>(i - begin);
    // An "=": a quote after it and its white space opens a value; anything
    // else is scanned as usual from where it stands.
    for (++i; i < end && isXmlWhite(*i);) ++i;
    if (i == end || (*i != '"' && *i != '\'')) continue;
    // The closing quote, unless a "<" or the end comes first.
    const char* close = *i == '"' ? findAnyOf<'"', '<'>(i + 1, end) : findAnyOf<'\'', '<'>(i + 1, end);
    if (close == end || *close == '<') return std::string_view::npos;
    i = close + 1;
  }
}

// The ">" that ends the DOCTYPE at p: with an internal subset (a "["
// before the first ">") the first ">" after the "]" that closes it, the
// subset's quoted literals and comments passed over; without one, as any
// other tag.
size_t doctypeEnd(std::string_view all, size_t p) {
  const size_t npos = std::string_view::npos;
  size_t open = all.find('[', p);
  if (open == npos || open > all.find('>', p)) return tagEnd(all, p);
  for (size_t i = open + 1; i < all.size(); ++i) {
    const char c = all[i];
    if (c == '"' || c == '\'') {
      i = all.find(c, i + 1);
    } else if (all.compare(i, 4, "<!--") == 0) {
      i = all.find("-->", i + 4);
      if (i != npos) i += 2;
    } else if (c == ']') {
      return all.find('>', i + 1);
    }
    if (i == npos) return npos;
  }
  return npos;
}

// Why no tag could be read at the "<" at p (tagEnd found none): the first
// thing that stops it, in words.
const char* tagFailure(std::string_view all, size_t p) {
  for (size_t i = p + 1; i < all.size(); ++i) {
    const char c = all[i];
    if (c == '>') break;
    if (c == '<') return "a \"<\" in the text starts no tag (write it as &lt;)";
    if (c != '=') continue;
    size_t q = i + 1;
    while (q < all.size() && isXmlWhite(all[q])) ++q;
    if (q == all.size() || (all[q] != '"' && all[q] != '\'')) continue;
    const size_t close = all.find_first_of(all[q] == '"' ? "\"<" : "'<", q + 1);
    if (close == std::string_view::npos || all[close] == '<') return "an attribute value is not closed";
    i = close;
  }
  return p + 1 < all.size() && all[p + 1] == '>' ? "an empty tag" : "a tag is not closed";
}

}  // namespace

// ---------------------------------------------------------------------------
// Scanner procedures

XmlToken tagNextToken(Text tag, int32_t position) {
  const std::string_view view = tag.nulView();
  TokenView t = nextToken(view, static_cast<size_t>(std::max(position, 0)), view.data() + view.size());
  if (!t.found) return {Str(), position};
  return {Str(t.token), static_cast<int32_t>(t.position)};
}

XmlAttribute tagNextAttribute(Text tag, int32_t position) {
  const std::string_view view = tag.nulView();
  AttributeView a = nextAttribute(view, static_cast<size_t>(std::max(position, 0)), view.data() + view.size());
  if (a.name.empty() && !a.hasValue) return {Str(""), Str(), static_cast<int32_t>(a.position)};
  return {Str(a.name), a.hasValue ? Str(a.value) : Str(), static_cast<int32_t>(a.position)};
}

namespace {

const unsigned char* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// True when the text holds at least one well-formed sequence of two or more
// bytes.
bool holdsMultiByteSequence(std::string_view text) {
  const unsigned char* s = bytesOf(text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (s[i] >= 0x80 && utf8SequenceLength(s, text.size(), i) > 1) return true;
  }
  return false;
}

}  // namespace

// The UTF-8 of each byte of a single-byte charset as the whole-text
// conversion writes it, or NIL when some byte above 7F would become a byte
// below 80 other than "?": bytes 01..7F stand for themselves, so then no
// converted byte is markup that was not, and converting each string on its
// own gives what converting the whole text gives.
std::unique_ptr<cXML::ByteExpansion> cXML::byteExpansion(const cEncoding& from, const cEncoding& utf8) {
  auto e = std::make_unique<ByteExpansion>();
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    std::string_view text(&byte, 1);
    Str converted;
    if (b >= 0x80) {
      converted = convertStringEncoding(text, from, utf8, 1, '?', false, false, nullptr, 0);
      text = converted.view();
      if (text.empty() || text.size() > 4) return nullptr;
      if (text != "?" && !std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return nullptr;
      }
    }
    text.copy(e->bytes[static_cast<size_t>(b)].data(), text.size());
    e->sizes[static_cast<size_t>(b)] = static_cast<uint8_t>(text.size());
  }
  return e;
}

namespace {

// The position of the first byte from i on that starts no well-formed
// sequence inside text, or its size.
size_t wellFormedUntil(std::string_view text, size_t i) {
  const unsigned char* s = bytesOf(text);
  const size_t n = text.size();
  while (i < n) {
    i = static_cast<size_t>(skipAsciiAndTwoByteUtf8(text.data() + i, text.data() + n) - text.data());
    // The block the fast pass stopped at, one sequence at a time.
    for (const size_t stop = std::min(n, i + 16); i < stop;) {
      if (s[i] < 0x80) {
        ++i;
        continue;
      }
      const size_t length = utf8SequenceLength(s, n, i);
      if (length == 0) return i;
      i += length;
    }
  }
  return n;
}

struct NulScan {
  int32_t length;   // bytes before the first NUL, at most the length given
  bool wellFormed;  // those bytes are well-formed UTF-8
};

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

NulScan scanToNul(const char* buffer, int32_t length) {
  const void* nul = std::memchr(buffer, '\0', static_cast<size_t>(length));
  const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - buffer) : static_cast<size_t>(length);
  return {static_cast<int32_t>(n), wellFormedUntil(std::string_view(buffer, n), 0) == n};
}

}  // namespace

bool isWellFormedUTF8(std::string_view text) { return wellFormedUntil(text, 0) == text.size(); }

namespace {

struct WideStart {
  const char* encoding = nullptr;  // nullptr: a text of single bytes
  int32_t markLength = 0;
};

// The UTF-16 or UTF-32 form of a text, by its byte-order mark or, without
// one, by the zero bytes around its first character (an XML text starts
// with "<" or white space, both below 80).
WideStart wideStartOf(std::string_view t) {
  auto is = [&](std::string_view prefix) { return t.starts_with(prefix); };
  using namespace std::string_view_literals;
  if (is("\xFF\xFE\0\0"sv)) return {"UTF-32LE", 4};
  if (is("\0\0\xFE\xFF"sv)) return {"UTF-32BE", 4};
  if (is("\xFF\xFE"sv)) return {"UTF-16LE", 2};
  if (is("\xFE\xFF"sv)) return {"UTF-16BE", 2};
  if (t.size() < 4) return {};
  const bool z0 = t[0] == 0, z1 = t[1] == 0, z2 = t[2] == 0, z3 = t[3] == 0;
  if (!z0 && z1 && z2 && z3) return {"UTF-32LE", 0};
  if (z0 && z1 && z2 && !z3) return {"UTF-32BE", 0};
  if (!z0 && z1 && !z2 && z3) return {"UTF-16LE", 0};
  if (z0 && !z1 && z2 && !z3) return {"UTF-16BE", 0};
  return {};
}

bool namesWideEncoding(std::string_view label) {
  label = trimLabel(label);
  return startsWithIgnoringCase(label, "UTF-16") || startsWithIgnoringCase(label, "UTF-32") ||
         startsWithIgnoringCase(label, "UCS-2") || startsWithIgnoringCase(label, "UCS-4") ||
         equalsIgnoringCase(label, "UTF16") || equalsIgnoringCase(label, "UTF32");
}

// An encoding name as a message shows it: at most 40 bytes, controls as "?".
std::string shownEncoding(std::string_view name) {
  std::string shown(name.substr(0, 40));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

}  // namespace

// ---------------------------------------------------------------------------
// cXML

cXML::cXML(const cEncoding& systemCharset) {
  systemCharset_ = systemCharset.clone();
  if (!systemCharset_ || systemCharset_->infoName().isNil()) {
    raise("BUG", "cXML.new(); failed to create systemCharset");
  }
  auto utf8 = std::make_unique<cEncodingUTF>();
  if (!utf8->load("UTF-8")) raise("BUG", "cXML.new(); failed to create utf8Encoding");
  utf8Encoding_ = std::move(utf8);
  decodeTable_ = std::make_shared<XmlDecoder>(sharedXmlEntityMap());
}

namespace {

std::unique_ptr<cEncoding> systemEncoding() {
  std::unique_ptr<cEncoding> encoding = newSystemEncoding();
  if (!encoding) raise("BUG", "cXML.new(); failed to create systemCharset");
  return encoding;
}

}  // namespace

cXML::cXML() : cXML(*systemEncoding()) {}

cXML::~cXML() { close(); }

void cXML::close() {
  text_ = nullptr;
  length_ = 0;
  convertedText_.clear();
  convertedText_.shrink_to_fit();
  wideText_.clear();
  wideText_.shrink_to_fit();
  wideEncoding_.clear();
  version_ = Str();
  encodingName_ = Str();
  declaredEncodingName_ = Str();
  encoding_.reset();
  expansion_.reset();
}

cXML::TagView cXML::nextTag(bool mayFail) {
  tagFailure_ = nullptr;
  const int32_t p = position_;
  const char c = at(p);
  TagView result;
  int32_t reading = 0;
  bool tag = false;
  if (c == '<') {
    std::string_view rest(text_ + p, static_cast<size_t>(length_ - p));
    // Only a tag that starts "<!" can be a CDATA section, a comment or a
    // DOCTYPE.
    const bool bang = rest.size() > 1 && rest[1] == '!';
    if (bang && rest.starts_with("<![CDATA[")) {
      // A CDATA section is text, which cannot stand where a tag must (only
      // the first tag of a document can meet one here): no tag.
      tagFailure_ = "a CDATA section stands where an element must";
    } else if (bang && rest.starts_with("<!--")) {
      size_t e = rest.find("-->", 4);
      if (e != std::string_view::npos) {
        result.tag = rest.substr(1, e + 1);  // "!--" .. "--"
        reading = p + static_cast<int32_t>(e) + 3;
        tag = true;
      } else {
        tagFailure_ = "a comment is not closed";
      }
    } else {
      std::string_view all(text_, static_cast<size_t>(length_));
      const bool doctype = bang && rest.starts_with("<!DOCTYPE");
      size_t e = doctype ? doctypeEnd(all, static_cast<size_t>(p)) : tagEnd(all, static_cast<size_t>(p));
      if (e != std::string_view::npos && e > static_cast<size_t>(p) + 1) {
        result.tag = all.substr(static_cast<size_t>(p) + 1, e - static_cast<size_t>(p) - 1);
        tag = true;
        reading = static_cast<int32_t>(e) + 1;
      } else {
        tagFailure_ = doctype ? "the DOCTYPE is not closed" : tagFailure(all, static_cast<size_t>(p));
      }
    }
  } else if (c == '>') {
    // Only the start of the text (or the place just behind a byte-order
    // mark) may hold something other than a tag.
    if (p > markLength_) raise("BUG", "cXML.nextTagAndText(); unexpected \">\" character");
  } else if (c == '\0') {
    result.found = true;
    return result;
  } else {
    if (p > markLength_) raise("BUG", "cXML.nextTagAndText(); unexpected tag character");
  }

  if (tag) {
    // The text runs to the next "<" that does not open a CDATA section.
    // Whether it is plain is found on the way to the first "<".
    std::string_view all(text_, static_cast<size_t>(length_));
    const char* stop = findAnyOf<'<', '&', '\r', ']'>(text_ + reading, text_ + length_);
    result.plainText = stop == text_ + length_ || *stop == '<';
    size_t q = static_cast<size_t>(stop - text_);
    for (;;) {
      q = all.find('<', q);
      if (q == std::string_view::npos) {
        q = all.size();
        break;
      }
      if (q + 1 == all.size() || all[q + 1] != '!' || all.compare(q, 9, "<![CDATA[") != 0) break;
      result.plainText = false;
      size_t end = all.find("]]>", q);
      if (end == std::string_view::npos) {
        tagFailure_ = "a CDATA section is not closed";
        tag = false;
        break;
      }
      q = end + 3;
    }
    if (tag) {
      result.found = true;
      result.text = all.substr(static_cast<size_t>(reading), q - static_cast<size_t>(reading));
      position_ = static_cast<int32_t>(q);
      return result;
    }
  }
  if (!mayFail) raise("XML", "cXML.nextTagOrText(); malformed XML");
  return TagView{};
}

std::string cXML::tagFailureMessage(const char* where, const char* fallback) const {
  if (!tagFailure_) return fallback;
  return std::string(where) + "(); malformed XML, " + tagFailure_;
}

std::string_view cXML::firstTagName(std::string_view tag) const {
  if (tag.starts_with("!--")) return tag.substr(0, 3);
  return nextAttribute(tag, 0, textEnd()).name;
}

XmlTagAndText cXML::nextTagAndText(bool mayFail) {
  if (!text_) raise("EMU", "cXML.nextTagAndText(); not open");
  TagView t = nextTag(mayFail);
  if (!t.found) return {};
  return {documentStr(t.tag), documentStr(t.text)};
}

// Writes raw with its bytes above 7F (the first at `high`) expanded into
// out, resized to fit, and returns the expanded size.
size_t cXML::expandInto(std::string& out, std::string_view raw, const char* high) const {
  const char* const end = raw.data() + raw.size();
  const ByteExpansion& e = *expansion_;
  // The ASCII runs between the bytes above 7F are copied as they stand.
  size_t size = raw.size();
  for (const char* p = high; p < end; p = skipAscii(p + 1, end)) size += e.sizes[static_cast<unsigned char>(*p)] - 1u;
  // Each byte's text is copied as four bytes, so three bytes of slack.
  out.resize(size + 3);
  char* w = out.data();
  const char* copied = raw.data();
  for (const char* p = high; p < end; p = skipAscii(p + 1, end)) {
    std::memcpy(w, copied, static_cast<size_t>(p - copied));
    w += p - copied;
    const auto b = static_cast<unsigned char>(*p);
    std::memcpy(w, e.bytes[b].data(), 4);
    w += e.sizes[b];
    copied = p + 1;
  }
  std::memcpy(w, copied, static_cast<size_t>(end - copied));
  return size;
}

Str cXML::documentStr(std::string_view raw) const {
  const char* const end = raw.data() + raw.size();
  const char* const high = expansion_ ? skipAscii(raw.data(), end) : end;
  if (high == end) return Str(raw);
  std::string out;
  const size_t size = expandInto(out, raw, high);
  out.resize(size);
  return Str::adopt(std::move(out), static_cast<int32_t>(size));
}

std::string_view cXML::documentView(std::string_view raw, std::string& scratch) const {
  const char* const end = raw.data() + raw.size();
  const char* const high = expansion_ ? skipAscii(raw.data(), end) : end;
  if (high == end) return raw;
  const size_t size = expandInto(scratch, raw, high);
  return std::string_view(scratch.data(), size);
}

bool cXML::opensInstruction(std::string_view name) const {
  if (name.empty()) return false;
  const auto b = static_cast<unsigned char>(name[0]);
  return (expansion_ ? expansion_->bytes[b][0] : name[0]) == '?';
}

void cXML::adoptConvertedText(std::string_view converted) {
  if (converted.size() > static_cast<size_t>(INT32_MAX - markLength_)) {
    raise("MEM", "cXML.open(); converted text too long");
  }
  std::string text;
  text.reserve(static_cast<size_t>(markLength_) + converted.size());
  text.assign(text_, static_cast<size_t>(markLength_));
  text.append(converted);
  convertedText_ = std::move(text);
  text_ = convertedText_.c_str();
  length_ = static_cast<int32_t>(convertedText_.size());
}

void cXML::replaceByWindows1252() {
  if (declaredEncodingName_.isNil()) declaredEncodingName_ = std::move(encodingName_);
  encodingName_ = Str("Windows-1252");
}

bool cXML::settleEncoding(bool declared, int32_t& start) {
  if (!wideEncoding_.empty()) {
    // Converted before it was read: whatever the declaration says, the
    // text is UTF-8 now.
    declaredEncodingName_ = declared ? std::move(encodingName_) : Str(wideEncoding_);
    encodingName_ = Str("UTF-8");
    return false;
  }
  if (declared && !encodingName_.isNil() && namesWideEncoding(encodingName_.view())) {
    // A text of single bytes cannot be in UTF-16, whatever it says; read
    // as UTF-8 (stray bytes as Windows-1252), as browsers do.
    declaredEncodingName_ = std::move(encodingName_);
    encodingName_ = Str("UTF-8");
    return false;
  }
  if (!declared && markLength_ == 0 && !wellFormedUtf8_ && !transportCharset_.empty() &&
      !namesWideEncoding(transportCharset_)) {
    declaredEncodingName_ = Str("UTF-8");
    encodingName_ = Str(trimLabel(transportCharset_));
  }
  if (encodingName_.isNil()) return false;
  const std::string_view label = encodingName_.view();
  const char* const end = text_ + length_;
  if (isLatin1Label(label)) {
    // Browsers read Latin-1 and ASCII as Windows-1252: a document holding
    // bytes 80..9F (an ASCII one: any byte above 7F) was written on Windows.
    const bool ascii = isAsciiLabel(label);
    for (const char* p = skipAscii(text_, end); p < end; p = skipAscii(p + 1, end)) {
      if (ascii || static_cast<unsigned char>(*p) <= 0x9F) {
        replaceByWindows1252();
        return false;
      }
    }
    // A Latin-1 name this system has no table under reads as ISO-8859-1.
    if (!encodingFromName(encodingName_, false)) {
      if (declaredEncodingName_.isNil()) declaredEncodingName_ = std::move(encodingName_);
      encodingName_ = Str("ISO-8859-1");
    }
    return false;
  }
  if (!isMultiByteLabel(label)) return false;
  // Shift_JIS, GBK, ISO-2022-JP ...: the whole text behind the mark
  // converted at once. Only what stands before start (the declaration, in
  // ASCII) is known to be read right: the caller reads the first tag again.
  const std::string_view body(text_ + markLength_, static_cast<size_t>(length_ - markLength_));
  std::optional<std::string> converted = decodeToUtf8(body, label);
  if (!converted) return false;
  const int32_t prefix = start - markLength_;
  const std::optional<std::string> before =
      prefix <= 0 ? std::string() : decodeToUtf8(body.substr(0, static_cast<size_t>(prefix)), label);
  start = markLength_ + static_cast<int32_t>(before ? before->size() : 0);
  adoptConvertedText(*converted);
  position_ = start;
  if (declaredEncodingName_.isNil()) declaredEncodingName_ = std::move(encodingName_);
  encodingName_ = Str("UTF-8");
  wellFormedUtf8_ = true;
  return true;
}

bool cXML::open(const char* buffer, int32_t length) {
  close();
  if (!buffer) raise("EMU", "cXML.open(); buffer=NIL");
  if (length < 0) raise("EMU", "cXML.open(); length<0");
  const WideStart wide = wideStartOf(std::string_view(buffer, static_cast<size_t>(length)));
  if (wide.encoding) {
    // A terminating NUL byte is no half of a character.
    size_t n = static_cast<size_t>(length - wide.markLength);
    const size_t unit = std::string_view(wide.encoding).starts_with("UTF-32") ? 4 : 2;
    while (n % unit != 0 && buffer[static_cast<size_t>(wide.markLength) + n - 1] == '\0') --n;
    std::optional<std::string> utf8 = decodeToUtf8(std::string_view(buffer + wide.markLength, n), wide.encoding);
    if (!utf8 || utf8->size() > static_cast<size_t>(INT32_MAX)) {
      lastError_ = std::string("cXML.open(); the feed's encoding ") + wide.encoding + " is not supported";
      lineNumber_ = 1;
      return false;
    }
    wideText_ = std::move(*utf8);
    wideEncoding_ = wide.encoding;
    buffer = wideText_.c_str();
    length = static_cast<int32_t>(wideText_.size());
  }
  const NulScan scan = scanToNul(buffer, length);
  text_ = buffer;
  length_ = scan.length;
  wellFormedUtf8_ = scan.wellFormed;
  position_ = 0;
  lineNumber_ = -1;
  markLength_ = 0;
  version_ = Str("1.0");
  encodingName_ = Str("UTF-8");
  declaredEncodingName_ = Str();
  try {
    // A NUL ends the text only when nothing but NULs follows (a terminator
    // or padding); one inside the text would silently cut the rest.
    const std::string_view after(buffer + scan.length, static_cast<size_t>(length - scan.length));
    if (after.find_first_not_of('\0') != std::string_view::npos) {
      position_ = scan.length;
      raise("XML", "cXML.open(); NUL byte at line " + std::to_string(infoLineNumber()));
    }
    normaliseLineEnds();
    openSteps();
    return true;
  } catch (const eException& e) {
    if (e.code() != "XML") {
      close();
      throw;
    }
    lastError_ = e.message();
    lineNumber_ = infoLineNumber();
    close();
    return false;
  }
}

void cXML::normaliseLineEnds() {
  const char* cr = static_cast<const char*>(std::memchr(text_, '\r', static_cast<size_t>(length_)));
  if (!cr) return;
  // A wide document's UTF-8 is this reader's own: mended where it stands.
  std::string& own = text_ == wideText_.c_str() ? wideText_ : convertedText_;
  if (&own == &convertedText_) convertedText_.assign(text_, static_cast<size_t>(length_));
  own.resize(static_cast<size_t>(length_));
  char* const begin = own.data();
  char* const end = begin + own.size();
  char* w = begin + (cr - text_);
  for (char* r = w; r < end;) {
    // r stands at a CR: a LF for it (and for the LF after it), then the
    // run up to the next CR moved behind it.
    *w++ = '\n';
    r += r + 1 < end && r[1] == '\n' ? 2 : 1;
    char* next = static_cast<char*>(std::memchr(r, '\r', static_cast<size_t>(end - r)));
    if (!next) next = end;
    std::memmove(w, r, static_cast<size_t>(next - r));
    w += next - r;
    r = next;
  }
  own.resize(static_cast<size_t>(w - begin));
  text_ = own.c_str();
  length_ = static_cast<int32_t>(own.size());
}

void cXML::openSteps() {
  if (std::string_view(text_, static_cast<size_t>(length_)).starts_with(kByteOrderMark)) {
    markLength_ = static_cast<int32_t>(kByteOrderMark.size());
    position_ = markLength_;
  }

  // White space and comments may stand before the declaration or the root.
  for (;;) {
    while (position_ < length_ && isXmlSpace(text_[position_])) ++position_;
    const std::string_view rest(text_ + position_, static_cast<size_t>(length_ - position_));
    if (!rest.starts_with("<!--")) break;
    const size_t end = rest.find("-->", 4);
    if (end == std::string_view::npos) raise("XML", "cXML.open(); a comment before the first element is not closed");
    position_ += static_cast<int32_t>(end) + 3;
  }
  if (position_ >= length_) raise("XML", "cXML.open(); the document is empty");
  if (text_[position_] != '<') raise("XML", "cXML.open(); malformed XML (1)");

  int32_t start = position_;
  bool declared = false;
  TagView t = nextTag(true);
  if (!t.found) raise("XML", tagFailureMessage("cXML.open", "cXML.open(); malformed XML (1)"));
  AttributeView a = nextAttribute(t.tag, 0, textEnd());
  std::string name(a.name);

  if (name == "?xml") {
    a = nextAttribute(t.tag, a.position, textEnd());
    if (a.name == "version") {
      version_ = a.hasValue ? Str(a.value) : Str();
      a = nextAttribute(t.tag, a.position, textEnd());
    }
    if (a.name == "encoding") {
      encodingName_ = a.hasValue ? Str(a.value) : Str();
      declared = true;
      a = nextAttribute(t.tag, a.position, textEnd());
    }
    while (a.name != "?" && !a.name.empty()) a = nextAttribute(t.tag, a.position, textEnd());
    if (a.name.empty()) raise("XML", "cXML.open(); malformed XML prolog (1)");
    a = nextAttribute(t.tag, a.position, textEnd());
    if (!a.name.empty()) raise("XML", "cXML.open(); malformed XML prolog (2)");
    if (!version_.view().starts_with("1.")) raise("XML", "cXML.open(); unsupported XML version");

    start = position_;
    t = nextTag(true);
    if (!t.found) raise("XML", tagFailureMessage("cXML.open", "cXML.open(); malformed XML (2)"));
    name = firstTagName(t.tag);
  }

  if (settleEncoding(declared, start)) {
    t = nextTag(true);
    if (!t.found) raise("XML", tagFailureMessage("cXML.open", "cXML.open(); malformed XML (2)"));
    name = firstTagName(t.tag);
  }

  if ((equalsIgnoringCase(encodingName_.view(), "UTF-8") || equalsIgnoringCase(encodingName_.view(), "UTF8")) &&
      !wellFormedUtf8_) {
    // A UTF-8 document with a few stray bytes stays UTF-8: only the stray
    // bytes are read as Windows-1252. Without a single multi-byte sequence
    // the whole document is Windows-1252.
    std::string_view body(text_ + markLength_, static_cast<size_t>(length_ - markLength_));
    if (holdsMultiByteSequence(body)) {
      auto remap = [&](int32_t offset) {
        int32_t prefix = offset - markLength_;
        if (prefix <= 0) return offset;
        return markLength_ + static_cast<int32_t>(utf8WithWindows1252Bytes(body.substr(0, static_cast<size_t>(prefix))).size());
      };
      start = remap(start);
      position_ = remap(position_);
      adoptConvertedText(utf8WithWindows1252Bytes(body));
      encodingName_ = Str("UTF-8");
      declaredEncodingName_ = Str();
    } else {
      replaceByWindows1252();
    }
  }

  encoding_ = encodingName_.isNil() ? nullptr : encodingFromName(encodingName_, false);
  if (!encoding_) {
    raise("XML", "cXML.open(); the feed's encoding " + shownEncoding(encodingName_.view()) + " is not supported");
  }

  // Everything behind the byte-order mark is read as UTF-8; the mark stays.
  // UTF-8 needs nothing, and a charset changes nothing but the bytes above
  // 7F (ASCII passes every conversion as it stands).
  const char* body = text_ + markLength_;
  const int32_t bodyLength = length_ - markLength_;
  // Controls XML forbids (ASCII in every charset read here) are replaced in
  // UTF-8 text: a single-byte text holding one is converted first.
  bool controls = findForbiddenControl(body, body + bodyLength) != body + bodyLength;
  if (encoding_->isOfClass(cCharset::kClassName) && skipAscii(body, body + bodyLength) != body + bodyLength) {
    expansion_ = controls ? nullptr : byteExpansion(*encoding_, *utf8Encoding_);
    if (!expansion_) {
      // A charset that could make markup of other bytes (or a text whose
      // controls are to be replaced): convert the whole text once. Offsets
      // already taken move by what the conversion did to the bytes before
      // them.
      auto convert = [&](int32_t length) {
        return convertStringEncoding(std::string_view(body, static_cast<size_t>(length)), *encoding_,
                                     *utf8Encoding_, length, '?', false, false, nullptr, 0);
      };
      auto remap = [&](int32_t offset) {
        const int32_t prefix = offset - markLength_;
        return prefix <= 0 ? offset : markLength_ + convert(prefix).length();
      };
      start = remap(start);
      position_ = remap(position_);
      adoptConvertedText(convert(bodyLength).view());
      // A charset may give a control for a byte above 7F too.
      controls = controls || holdsForbiddenControl(std::string_view(text_, static_cast<size_t>(length_)));
    }
    if (declaredEncodingName_.isNil()) declaredEncodingName_ = std::move(encodingName_);
    encodingName_ = Str(encoding_->infoName().view());
  }
  if (controls) replaceForbiddenControls(start);

  while (name.starts_with("!--") || opensInstruction(name) || name == "!DOCTYPE") {
    start = position_;
    t = nextTag(true);
    if (!t.found) raise("XML", tagFailureMessage("cXML.open", "cXML.open(); malformed XML (3)"));
    name = firstTagName(t.tag);
  }
  position_ = start;
}

void cXML::replaceForbiddenControls(int32_t& start) {
  const std::string_view all(text_, static_cast<size_t>(length_));
  std::string replaced = withoutForbiddenControls(all, true);
  if (replaced.size() > static_cast<size_t>(INT32_MAX)) raise("MEM", "cXML.open(); converted text too long");
  // Each control before an offset taken moves it by the two bytes its
  // replacement adds.
  auto remap = [&](int32_t offset) {
    const std::string_view before = all.substr(0, static_cast<size_t>(offset));
    return offset + 2 * static_cast<int32_t>(std::count_if(before.begin(), before.end(), [](char c) {
             return isForbiddenControl(static_cast<unsigned char>(c));
           }));
  };
  start = remap(start);
  position_ = remap(position_);
  convertedText_ = std::move(replaced);
  text_ = convertedText_.c_str();
  length_ = static_cast<int32_t>(convertedText_.size());
}

XmlParseResult cXML::parseDocument() {
  if (!text_) raise("EMU", "cXML.parseDocument(); not open");
  auto root = std::make_unique<webDataRoot>();
  // Nodes are made in the root's arena straight from the document's bytes;
  // a single-byte document's strings are converted into these first.
  std::string nameScratch, textScratch, nsScratch;
  auto document = root->makeNode(Text(""), Text(nullptr), 0, Text(nullptr));
  try {
    webDataNode* current = document.get();
    for (bool first = true;; first = false) {
      // Made in place each round: a copy into a tag of the round before
      // would read back the fields nextTag has just stored.
      const TagView t = nextTag(true);
      if (!t.found) {
        raise("XML", tagFailureMessage("cXML.parseDocument",
                                       first ? "cXML.parseDocument(); malformed XML, unexpected end of document (1)"
                                             : "cXML.parseDocument(); malformed XML, unexpected end of document (2)"));
      }
      if (t.tag.empty()) {
        // A document cut off in transfer ends inside its root element.
        if (current != document.get()) {
          raise("XML", "cXML.parseDocument(); the document ends before its last element is closed; it may have "
                       "been cut off");
        }
        break;
      }
      // Comments and processing instructions are passed whole, whatever
      // they hold ("<!-- a=b -->" has no attributes).
      const bool skipped = t.tag.starts_with("!--") || opensInstruction(t.tag);
      AttributeView a = skipped ? AttributeView{t.tag, false, {}, t.tag.size()} : firstName(t.tag, textEnd());
      if (a.name.empty()) raise("XML", "cXML.parseDocument(); malformed XML, empty tag");

      if (skipped) {
        // Comments and processing instructions are nodes named by their
        // whole tag; they never become the current element.
        webDataNode* added = current->addMadeChild(
            root->makeNode(documentView(t.tag, nameScratch), documentView(t.text, textScratch), 0, Text(nullptr)));
        if (t.plainText) added->markPlainText();
      } else if (a.name[0] == '/') {
        const std::string_view closing = documentView(a.name.substr(1), nameScratch);
        const NodeText ns = current->getNamespace();
        const std::string_view elementName = current->getName().view();
        if (ns.isNil()) {
          if (closing != elementName) {
            raise("XML", "cXML.parseDocument(); malformed XML, mismatched closing tag (1)");
          }
        } else if (closing.size() != ns.view().size() + 1 + elementName.size() || !closing.starts_with(ns.view()) ||
                   closing[ns.view().size()] != ':' || !closing.ends_with(elementName)) {
          raise("XML", "cXML.parseDocument(); malformed XML, mismatched closing tag (2)");
        }
        if (current == document.get()) {
          raise("XML", "cXML.parseDocument(); malformed XML, mismatched closing tag (3)");
        }
        current->setTextAfterEndTag(documentView(t.text, textScratch));
        if (t.plainText) current->markPlainTextAfterEndTag();
        webDataNode* parent = current->getParent();
        if (!parent) raise("BUG", "cXML.parseDocument(); parentNode=NIL");
        current = parent;
      } else {
        const size_t colon = a.name.find(':');
        const std::string_view text = documentView(t.text, textScratch);
        auto node = colon == std::string_view::npos
                        ? root->makeNode(documentView(a.name, nameScratch), text, 0)
                        : root->makeNode(Text(documentView(a.name.substr(colon + 1), nameScratch)), Text(text), 0,
                                         Text(documentView(a.name.substr(0, colon), nsScratch)));
        if (t.plainText) node->markPlainText();
        bool empty = false;
        // Most tags are their name alone.
        for (a = a.position < t.tag.size() ? nextAttribute(t.tag, a.position, textEnd()) : AttributeView{};
             !a.name.empty(); a = nextAttribute(t.tag, a.position, textEnd())) {
          if (empty) {
            raise("XML", "cXML.parseDocument(); malformed XML, attributes after self-closing /");
          }
          if (!a.hasValue) {
            if (a.name != "/") {
              raise("XML", "cXML.parseDocument(); malformed XML, attribute missing value");
            }
            // An empty element: the text read with its tag follows its end.
            empty = true;
            node->moveTextAfterEndTag();
            node->markEmptyTag(a.name.data() > t.tag.data() && isXmlWhite(a.name.data()[-1]));
          } else if (node->addAttribute(documentView(a.name, nsScratch), documentView(a.value, textScratch))) {
            raise("XML", "cXML.parseDocument(); malformed XML, attribute duplicate found");
          }
        }
        webDataNode* added = current->addMadeChild(std::move(node));
        if (!empty) current = added;
      }
    }
  } catch (const eException& e) {
    if (e.code() != "XML") throw;
    lastError_ = e.message();
    document.reset();
    root.reset();
    return {nullptr, Str(e.message())};
  }

  root->setContents(document->infoChildren(), Str(encodingName_.view()),
                    declaredEncodingName_.isNil() ? Str() : Str(declaredEncodingName_.view()),
                    utf8Encoding_->clone(), systemCharset_->clone(), decodeTable_);
  document.reset();
  return {std::move(root), Str()};
}

int32_t cXML::infoLineNumber() {
  if (lineNumber_ != -1) return lineNumber_;
  if (!text_) return -1;
  int32_t last = std::min(position_, length_ - 1);
  if (last < 0) return 1;
  return 1 + static_cast<int32_t>(std::count(text_, text_ + last + 1, '\n'));
}

Str cXML::convertText(Text text, const cEncoding* charset, bool noDecode, bool nilIfUnchanged) {
  const cEncoding& target = charset ? *charset : *systemCharset_;
  if (noDecode) return convertDocumentText(text, *utf8Encoding_, target, nilIfUnchanged);
  return decodeTable_->decode(text, *utf8Encoding_, target, nilIfUnchanged);
}

}  // namespace bw

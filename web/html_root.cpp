// web/html_root.cpp - htmlDataRoot, its decoding table and entity matcher,
// createHTMLroot and the HTML module's matcher.
#include "core/exception.h"
#include "core/system_charset.h"
#include "core/unicode.h"
#include "web/html_reader.h"

namespace bw {

namespace {

std::unique_ptr<fHtmlEscCodeTranslateMatcher> gEscCodeMatcher;

}  // namespace

TranslateMatch fHtmlEscCodeTranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  // The same rules as the XML escapes; only the entity table and the target
  // in the entry's context differ.
  return escapes_.call(text, position, entry);
}

void initHTMLModule() { gEscCodeMatcher = std::make_unique<fHtmlEscCodeTranslateMatcher>(); }
void endHTMLModule() { gEscCodeMatcher.reset(); }
fHtmlEscCodeTranslateMatcher* htmlEscCodeMatcher() { return gEscCodeMatcher.get(); }

Str HtmlDecoder::decode(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const {
  fHtmlEscCodeTranslateMatcher* escapes = htmlEscCodeMatcher();
  if (!escapes) raise("BUG", "HtmlDecoder.decode(); HTML module not initialised");
  // The XML rules without the CDATA markers.
  return decodeEntityText(text, from, to, nilIfUnchanged, *escapes, *entities_, false);
}

htmlDataRoot::htmlDataRoot() : entities_(std::make_shared<EntityMap>()) {
  decodeTable_ = std::make_shared<HtmlDecoder>(entities_);
  for (const EntityName& e : xmlEntityNames()) registerHtmlEntity(*entities_, e.code, e.entity);
}

std::unique_ptr<htmlDataRoot> createHTMLroot(Str encodingName, Str declaredEncodingName,
                                             const cEncoding& systemCharset) {
  auto utf8 = std::make_unique<cEncodingUTF>();
  if (!utf8->load("UTF-8")) raise("BUG", "createHTMLroot(); failed to create utf8Encoding");
  std::unique_ptr<cEncoding> charset = systemCharset.clone();
  if (!charset || charset->infoName().isNil()) {
    raise("BUG", "createHTMLroot(); failed to create systemCharset");
  }
  auto root = std::make_unique<htmlDataRoot>();
  std::shared_ptr<const webDecoder> decoder = root->infoDecodeTable();
  root->setContents(nullptr, std::move(encodingName), std::move(declaredEncodingName), std::move(utf8),
                    std::move(charset), std::move(decoder));
  return root;
}

std::unique_ptr<htmlDataRoot> createHTMLroot(Str encodingName, Str declaredEncodingName) {
  std::unique_ptr<cEncoding> system = newSystemEncoding();
  if (!system) raise("BUG", "createHTMLroot(); failed to create systemCharset");
  return createHTMLroot(std::move(encodingName), std::move(declaredEncodingName), *system);
}

}  // namespace bw

// app/opml_read.cpp - reading an OPML file and walking its outlines.
#include "app/opml_read.h"

#include <vector>

#include "app/program_identity.h"
#include "core/charset_files.h"
#include "news/ui_seam.h"

namespace bw {
namespace {

constexpr char kTitle[] = "Import OPML";

void tell(const char* text, RequesterParameters parameters) {
  newsUi().gui_requester(kTitle, text, "OK", parameters, 0, 0);
}

std::string pathText(Text path) { return std::string(path.view()); }

}  // namespace

OpmlDocument readOpmlFile(Text hostPath) {
  std::optional<std::string> bytes = readRegularFileUpTo(pathText(hostPath), kOpmlMaxFileBytes);
  if (!bytes) {
    tell("Failed to open file:\n\x1b"
         "1%s",
         {pathText(hostPath)});
    return {};
  }
  return readOpmlText(*bytes, hostPath);
}

OpmlDocument readOpmlText(std::string_view bytes, Text shownPath) {
  OpmlDocument result;
  result.reader = std::make_unique<cXML>();
  cXML& reader = *result.reader;
  // The reader reads up to the first NUL or the length, whichever comes
  // first; the text stays put until the reader is closed below.
  std::string text(bytes);
  if (!reader.open(text.c_str(), static_cast<int32_t>(text.size()))) {
    tell("Failed to parse XML header of file:\n\x1b"
         "1%s",
         {pathText(shownPath)});
    return {};
  }
  XmlParseResult parsed = reader.parseDocument();
  if (!parsed.root) {
    int64_t line = reader.infoLineNumber();
    reader.close();
    tell("Parsing error on line %ld:\n\x1b"
         "1%s\nFor the XML document:\n\x1b"
         "1%s\n\nPlease report this to:\n\x1b"
         "1%s",
         {line, std::string(parsed.message.view()), pathText(shownPath), std::string(programContactAddress)});
    return {};
  }
  reader.close();
  webDataNode* opml = parsed.root->findNode("opml", nullptr, nullptr, nullptr);
  webDataNode* body = opml ? opml->findChild("body", nullptr, nullptr, nullptr) : nullptr;
  if (!body) {
    tell("This isn't an OPML file:\n\x1b"
         "1%s",
         {pathText(shownPath)});
    return {};
  }
  result.document = std::move(parsed.root);
  result.body = body;
  return result;
}

bool walkOpmlOutlines(webDataNode& node, const cEncoding& charset, const OpmlFeedAdder& adder) {
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  // One frame per open folder: the tag text its outlines get and the last
  // child visited.
  struct Folder {
    webDataNode* node;
    Str tags;
    webDataNode* after;
  };
  std::vector<Folder> folders;
  // Visits one outline: a feed goes to the adder, a folder is opened.
  auto visit = [&](webDataNode& outline, const Str& tags) -> bool {
    Str address = outline.getAttribute("xmlUrl", &utf8, false);
    if (address.isNil() || address.empty()) {
      // A feed outline without its address is skipped; any other is a folder.
      if (outline.getAttribute("type", &utf8, false).view() == "rss") return true;
      folders.push_back({&outline, outline.getAttribute("text", &charset, false), nullptr});
      return true;
    }
    Str name = outline.getAttribute("title", &charset, false);
    if (name.isNil()) name = outline.getAttribute("text", &charset, false);
    return adder({std::move(name), std::move(address), tags});
  };
  if (!visit(node, Str())) return true;
  while (!folders.empty()) {
    Folder& top = folders.back();
    webDataNode* child = top.node->findChild("outline", nullptr, top.after, nullptr);
    if (!child) {
      folders.pop_back();
      continue;
    }
    top.after = child;
    Str tags = top.tags;
    if (!visit(*child, tags)) return true;
  }
  return false;
}

}  // namespace bw

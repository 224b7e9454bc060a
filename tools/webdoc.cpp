// tools/webdoc.cpp - reads a web document and prints its tree, one node per
// line (depth, name, attributes, text converted to UTF-8), for trying the
// readers by hand on any feed.
//
//   webdoc [--xml | --json | --html] FILE|-
//
// --json prints the document with the JSON printer; --html reads the page
// tag by tag and prints each tag's node with its decoded attributes. A
// malformed document prints the failure's code, message (and line) and
// exits with 1.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "core/charset_files.h"
#include "core/exception.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "web/html_reader.h"
#include "web/json_printer.h"
#include "web/json_reader.h"
#include "web/web_dump.h"
#include "web/xml_entities.h"
#include "web/xml_reader.h"

namespace {

int usage() {
  std::fputs("usage: webdoc [--xml | --json | --html] FILE|-\n", stderr);
  return 2;
}

int readXml(const std::string& document) {
  bw::cEncodingUTF utf8;
  utf8.load("UTF-8");
  bw::cXML reader(utf8);
  if (!reader.open(document.c_str(), static_cast<int32_t>(document.size() + 1))) {
    std::printf("XML %s (line %d)\n", reader.lastError().c_str(), reader.infoLineNumber());
    return 1;
  }
  bw::XmlParseResult r = reader.parseDocument();
  if (!r.root) {
    std::printf("XML %s (line %d)\n", r.message.c_str(), reader.infoLineNumber());
    return 1;
  }
  std::printf("# encoding %s", r.root->infoEncodingName().c_str());
  if (!r.root->infoDeclaredEncodingName().isNil()) {
    std::printf(" (declared %s)", r.root->infoDeclaredEncodingName().c_str());
  }
  std::printf("\n");
  std::string tree = bw::dumpWebTree(*r.root, utf8, false);
  std::fwrite(tree.data(), 1, tree.size(), stdout);
  return 0;
}

int readJson(const std::string& document) {
  bw::cEncodingUTF utf8;
  utf8.load("UTF-8");
  bw::cJSON reader(utf8, nullptr);
  bw::JsonParseResult r = reader.parseDocument(document.c_str(), static_cast<int32_t>(document.size() + 1));
  if (!r.root) {
    std::printf("JSON %s (line %d)\n", r.message.c_str(), reader.infoLineNumber());
    return 1;
  }
  bw::printJSONroot(*r.root);
  return 0;
}

// Every tag from the first "<" on, in order; a malformed one raises.
int readHtml(const std::string& document) {
  bw::cEncodingUTF utf8;
  utf8.load("UTF-8");
  auto root = bw::createHTMLroot(bw::Str("UTF-8"), bw::Str(), utf8);
  size_t first = document.find('<');
  int64_t position = first == std::string::npos ? static_cast<int64_t>(document.size()) : static_cast<int64_t>(first);
  for (;;) {
    bw::HtmlTagAndText t = bw::pHTML::html_nextTagAndText(document, position, false);
    if (t.tag.empty()) break;
    position = t.position;
    bw::Str tag = t.tag;
    bw::HtmlParsedTag parsed = bw::pHTML::html_parseTag(tag.view(), root.get(), std::move(t.text), false);
    if (!parsed.node) {
      std::printf("<%s>\n", tag.c_str());
      continue;
    }
    bw::webDataNode& n = *parsed.node;
    std::string line = "<";
    if (!n.getNamespace().isNil()) line += n.getNamespace().str() + ":";
    line += n.getName().str();
    for (bw::webAttributeText a = n.getFirstAttribute(&utf8, false); a.name; a = n.getNextAttribute(&utf8, false))
      line += " " + a.name->str() + "=\"" + a.value.str() + "\"";
    line += parsed.closes && n.getName().view().substr(0, 3) != "!--" ? "/>\n" : ">\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* file = nullptr;
  std::string mode = "--xml";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--xml") == 0 || std::strcmp(argv[i], "--json") == 0 ||
        std::strcmp(argv[i], "--html") == 0) {
      mode = argv[i];
      continue;
    }
    if (file) return usage();
    file = argv[i];
  }
  if (!file) return usage();

  std::string document;
  if (std::strcmp(file, "-") == 0) {
    document.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "webdoc: cannot read %s\n", file);
      return 2;
    }
    document.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::error_code ec;
  std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec);
  bw::setCharsetFileReader(bw::makeNativeCharsetFileReader(ec ? "." : self.parent_path().string()));
  bw::initMegaListModule();
  bw::initTranslateEngine();
  bw::initTranslateModule();
  bw::initXMLModule();
  bw::initJSONModule();
  bw::initHTMLModule();
  int status;
  try {
    if (mode == "--json") {
      status = readJson(document);
    } else if (mode == "--html") {
      status = readHtml(document);
    } else {
      status = readXml(document);
    }
  } catch (const bw::eException& e) {
    std::printf("%s %s\n", e.code().c_str(), e.message().c_str());
    status = 1;
  }
  bw::endHTMLModule();
  bw::endJSONModule();
  bw::endXMLModule();
  bw::endCharsetModule();
  bw::endTranslateEngine();
  bw::endMegaListModule();
  return status;
}

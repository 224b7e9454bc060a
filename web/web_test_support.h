// web/web_test_support.h - test helpers of the web unit tests: the modules
// the readers need, the two usual target encodings, expected exceptions.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/charset.h"
#include "core/exception.h"
#include "core/raise_test_support.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "web/xml_entities.h"
#include "web/xml_reader.h"

namespace bw {

// Sets up the translate engine, the conversion matchers and the XML module
// around each test, in start-up order, and ends them in reverse.
class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initXMLModule();
    utf8_.load("UTF-8");
    latin1_.load("ISO-8859-1", false);
  }
  void TearDown() override {
    endXMLModule();
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }

  // A document read by a fresh reader whose system charset is ISO-8859-1.
  std::unique_ptr<webDataRoot> parse(std::string_view xml) {
    cXML reader(latin1_);
    std::string buffer(xml);
    if (!reader.open(buffer.c_str(), static_cast<int32_t>(buffer.size() + 1))) {
      ADD_FAILURE() << "open failed: " << reader.lastError();
      return nullptr;
    }
    XmlParseResult r = reader.parseDocument();
    if (!r.root) ADD_FAILURE() << "parse failed: " << r.message.view();
    return std::move(r.root);
  }

  cEncodingUTF utf8_;
  cCharset latin1_;
};

inline std::string str(const Str& s) { return s.isNil() ? std::string("<NIL>") : s.str(); }

}  // namespace bw

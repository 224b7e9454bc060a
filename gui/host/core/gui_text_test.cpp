// gui/host/core/gui_text_test.cpp - the escape parser, the application
// names and the conversions through the system encoding.
#include "gui/host/core/gui_text.h"

#include <gtest/gtest.h>

#include "core/charset.h"
#include "core/unicode.h"

namespace bw {
namespace {

TEST(GuiText, EscapesBecomeStylesAndNeverReachTheToolkit) {
  struct Case {
    const char* in;
    const char* plain;
    char align;
    GuiTextStyle last;  // style of the last run
  };
  const Case cases[] = {
      {"plain <img src=x>", "plain <img src=x>", 0, {}},
      {"\x1b" "c\x1b" "bTitle", "Title", 'C', {true, false, false, -1}},
      {"\x1br\x1bi\x1buA", "A", 'R', {false, true, true, -1}},
      {"\x1b" "5\x1b" "4\x1b" "b\x1biX", "X", 0, {true, true, false, 4}},
      {"a\x1b" "bb\x1bnc", "abc", 0, {}},
      {"\x1bP[12]pen", "pen", 0, {false, false, false, 12, true}},
      {"\x1bP[unclosed", "[unclosed", 0, {}},  // no "]": the P alone goes
      {"drop\x1bqped", "dropped", 0, {}},      // unknown: ESC and its letter go
      {"end\x1b", "end", 0, {}},
      {"\x1bl", "", 'L', {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    GuiStyledText t = parseGuiText(c.in);
    EXPECT_EQ(t.plain(), c.plain);
    EXPECT_EQ(t.align, c.align);
    if (!t.runs.empty()) {
      EXPECT_EQ(t.runs.back().style, c.last);
    }
  }
  EXPECT_EQ(parseGuiText("a\x1b" "bb").runs.size(), 2u);
}

TEST(GuiText, PrefixesFirstLinesAndApplicationNames) {
  EXPECT_EQ(prepareText("x", 'L'), "x");
  EXPECT_EQ(prepareText("x", 'R'), "\x1brx");
  EXPECT_EQ(prepareText("x", 'C'), "\x1b" "cx");
  EXPECT_TRUE(prepareText("x", 'Q').isNil());
  EXPECT_EQ(firstLineOf("one\ntwo"), "one");
  EXPECT_EQ(firstLineOf("\nsecond").capacity(), 1);
  EXPECT_TRUE(firstLineOf("single").isNil());
  EXPECT_EQ(guiAppTitle("Brindlework 1.2: news!"), "Brindlework 1 2  news ");
  EXPECT_EQ(guiAppBase("Brindlework 1.2: news!"), "Brindlework_1_2__news_");
  EXPECT_EQ(guiAppTitle(std::string(40, 'a')).length(), 30);
  EXPECT_EQ(guiAppBase(std::string(40, 'a')).length(), 28);
}

TEST(GuiText, RoundTripsThroughTheSystemEncoding) {
  initTranslateModule();
  auto utf8 = std::make_unique<cEncodingUTF>();
  utf8->load("UTF-8");
  GuiTextCodec utf(std::move(utf8));
  EXPECT_EQ(utf.toUtf8("Gr\xc3\xbc\xc3\x9f" "e"), "Gr\xc3\xbc\xc3\x9f" "e");
  EXPECT_EQ(utf.fromUtf8("\xe2\x82\xac"), "\xe2\x82\xac");

  auto latin = std::unique_ptr<cEncoding>(encodingFromName("ISO-8859-1", true));
  ASSERT_NE(latin, nullptr);
  GuiTextCodec iso(std::move(latin));
  EXPECT_EQ(iso.toUtf8("Gr\xfc\xdf" "e"), "Gr\xc3\xbc\xc3\x9f" "e");
  EXPECT_EQ(iso.fromUtf8("Gr\xc3\xbc\xc3\x9f" "e"), "Gr\xfc\xdf" "e");
  EXPECT_EQ(iso.fromUtf8("\xe2\x82\xac"), "?");  // the euro is not Latin-1
  for (int b = 1; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(iso.fromUtf8(iso.toUtf8(one)), one) << b;
  }
  endCharsetModule();
}

}  // namespace
}  // namespace bw

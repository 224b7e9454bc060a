// web/json_printer_test.cpp - the JSON printer's exact output.
#include "web/json_printer.h"

#include <gtest/gtest.h>

#include "web/json_test_support.h"

namespace bw {
namespace {

using JsonPrinterTest = JsonTest;

std::string printed(const webDataRoot& root) {
  return printedTo([&](std::FILE* out) { printJSONroot(root, out); });
}

TEST_F(JsonPrinterTest, PrintsIndentedJson) {
  auto root = parseJson(R"({"a":[1,2],"b":{}})");
  ASSERT_TRUE(root);
  EXPECT_EQ(printed(*root), "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": {}\n}\n\n");
  // To the standard output by default.
  EXPECT_EQ(capturedStdout([&] { printJSONroot(*root); }), printed(*root));

  // Texts as written: escapes stay, so the output is JSON again; elements
  // have no name; literals and reals as they stand.
  auto texts = parseJson(R"([ "say \"hi\"\n", -1.5e3, null, [], {"k": [true]} ])");
  ASSERT_TRUE(texts);
  EXPECT_EQ(printed(*texts),
            "[\n  \"say \\\"hi\\\"\\n\",\n  -1.5e3,\n  null,\n  [],\n  {\n    \"k\": [\n      true\n    ]\n  "
            "}\n]\n\n");

  // Several top-level nodes are separated by commas.
  auto two = parseJson(R"({"a":1}, "c": "d")");
  ASSERT_TRUE(two);
  EXPECT_EQ(printed(*two), "{\n  \"a\": 1\n},\n\"c\": \"d\"\n\n");

  // A node inside a document prints at the depth given, its sibling comma
  // included.
  webDataNode* a = two->head()->getFirstChild();
  EXPECT_EQ(printedTo([&](std::FILE* out) { printJSONnode(*texts->head()->getLastChild(), 1, out); }),
            "  {\n    \"k\": [\n      true\n    ]\n  }\n");
  EXPECT_EQ(printedTo([&](std::FILE* out) { printJSONnode(*a, 3, out); }), "      \"a\": 1\n");
}

TEST_F(JsonPrinterTest, EmptyMemberNamesArePrinted) {
  // Built soundly: a member whose name is empty keeps its "": so the output
  // reads back as the same tree; elements and the outermost container still
  // print without a name.
  auto root = parseJson(R"({"": 1, "a": [{"": []}]})");
  ASSERT_TRUE(root);
  std::string text = printed(*root);
  EXPECT_EQ(text, "{\n  \"\": 1,\n  \"a\": [\n    {\n      \"\": []\n    }\n  ]\n}\n\n");
  auto again = parseJson(text);
  ASSERT_TRUE(again);
  EXPECT_EQ(printed(*again), text);

  // A later top-level value read after a comma keeps its empty name too.
  auto later = parseJson("\xEF\xBB\xBF{\"a\":1}, \"\": {\"d\": [");
  ASSERT_TRUE(later);
  text = printed(*later);
  EXPECT_EQ(text, "{\n  \"a\": 1\n},\n\"\": {\n  \"d\": []\n}\n\n");
  again = parseJson(text);
  ASSERT_TRUE(again);
  EXPECT_EQ(printed(*again), text);
}

TEST_F(JsonPrinterTest, IndentAndForeignNodes) {
  EXPECT_EQ(printedTo([](std::FILE* out) { printIndent(0, out); }), "");
  EXPECT_EQ(printedTo([](std::FILE* out) { printIndent(-3, out); }), "");
  EXPECT_EQ(printedTo([](std::FILE* out) { printIndent(150, out); }), std::string(150, ' '));

  // An XML node has no JSON kind; what was printed before stays printed.
  auto xml = parse("<a><b>t</b></a>");
  ASSERT_TRUE(xml);
  std::string out;
  expectRaise([&] { out = printedTo([&](std::FILE* f) { printJSONroot(*xml, f); }); }, "BUG",
              "cJSON; printJSONnode(); unexpected node type");
  auto mixed = parseJson(R"({"a":[1]})");
  mixed->head()->getFirstChild()->getFirstChild()->setText(Str("1"), 0, false);
  char* data = nullptr;
  size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  expectRaise([&] { printJSONroot(*mixed, f); }, "BUG", "cJSON; printJSONnode(); unexpected node type");
  std::fclose(f);
  EXPECT_EQ(std::string(data, size), "{\n  \"a\": [\n    ");
  std::free(data);
}

}  // namespace
}  // namespace bw

// Tests of charset table files found through the assign table.
#include "platform/charset_file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/charset.h"
#include "platform/assigns.h"
#include "platform/test_folder.h"

namespace bw {
namespace {

class CharsetFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dos::assignRemove("PROGDIR");
    dos::assignAdd("PROGDIR", folder_.path());
    dos::assignRemove("L");
    dos::assignAdd("L", folder_ / "L");
    dos::assignRemove("Libs");
    dos::assignAdd("Libs", folder_ / "Libs");
    initCharsetFileReader();
  }
  void TearDown() override {
    endCharsetFileReader();
    dos::resetAssigns();
  }
  std::unique_ptr<cCharset> load(const char* name) {
    auto c = std::make_unique<cCharset>();
    c->newCharset();
    if (!c->load(name, false)) return nullptr;
    return c;
  }
  void write(const std::string& relative, const std::string& content) {
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
      ::mkdir((folder_ / relative.substr(0, slash)).c_str(), 0700);
    }
    folder_.write(relative, content);
  }
  testing::TestFolder folder_;
};

TEST_F(CharsetFileReaderTest, TablesComeFromTheAssignedFolders) {
  write("Charsets/Text", "0x41 0x0391\n");
  auto text = load("Text");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->charaToUnicode(0x41, -1), 0x391);

  std::string binary(1024, '\0');
  binary[4 * 0x42 + 2] = 0x20;
  binary[4 * 0x42 + 3] = static_cast<char>(0xAC);
  write("L/Charsets/Binary", binary);
  auto bin = load("Binary");
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->charaToUnicode(0x42, -1), 0x20AC);

  write("Libs/Charsets/Lib.txt", "header\n# table\n0x43 0x0393\n");
  auto lib = load("Lib");
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->charaToUnicode(0x43, -1), 0x393);

  EXPECT_FALSE(load("Missing"));
  ASSERT_EQ(::mkfifo((folder_ / "Charsets/Fifo").c_str(), 0600), 0);
  EXPECT_FALSE(load("Fifo"));  // never opened for reading, so never waited on
}

}  // namespace
}  // namespace bw

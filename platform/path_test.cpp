// platform/path_test.cpp - internal path syntax, conversions, validity tests,
// path surgery and the cPath object's renaming methods.
#include "platform/path.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/raise_test_support.h"

namespace bw {
namespace {

TEST(PathImport, FilePaths) {
  EXPECT_EQ(cPath::ImportFilePath("Work:news/feeds.db"), "Work:/news/feeds.db");
  EXPECT_EQ(cPath::ImportFilePath("feeds.db"), "feeds.db");
  EXPECT_EQ(cPath::ImportFilePath("news/old"), "news/old");
  EXPECT_EQ(cPath::ImportFilePath("news/"), "news");
  EXPECT_EQ(cPath::ImportFilePath("Work:"), "Work:");
  EXPECT_EQ(cPath::ImportFilePath("Work:news/feeds.db").capacity(), 19);
  EXPECT_TRUE(cPath::ImportFilePath(nullptr).isNil());
}

TEST(PathImport, DirPaths) {
  EXPECT_EQ(cPath::ImportDirPath("Work:"), "Work:/");
  EXPECT_EQ(cPath::ImportDirPath("Work:news"), "Work:/news/");
  EXPECT_EQ(cPath::ImportDirPath("Work:news/"), "Work:/news/");
  EXPECT_EQ(cPath::ImportDirPath("Work:news//"), "Work:/news/");
  EXPECT_EQ(cPath::ImportDirPath(":"), ":/");
  EXPECT_EQ(cPath::ImportDirPath("news"), "news/");
  EXPECT_EQ(cPath::ImportDirPath("news/old"), "news/old/");
  EXPECT_EQ(cPath::ImportDirPath("/"), "/");
  Str empty = cPath::ImportDirPath("");
  EXPECT_FALSE(empty.isNil());
  EXPECT_EQ(empty, "");
  EXPECT_EQ(cPath::ImportDirPath("Work:news").capacity(), 11);
  EXPECT_TRUE(cPath::ImportDirPath(nullptr).isNil());
}

TEST(PathExport, ValidPaths) {
  EXPECT_EQ(cPath::ExportPath("Work:/"), "Work:");
  EXPECT_EQ(cPath::ExportPath("Work:/news/"), "Work:news");
  EXPECT_EQ(cPath::ExportPath("Work:/news/feeds.db"), "Work:news/feeds.db");
  EXPECT_EQ(cPath::ExportPath("news/"), "news");
  EXPECT_EQ(cPath::ExportPath(":/"), ":");
  EXPECT_EQ(cPath::ExportPath("a//b"), "a//b");  // a parent step passes through
  Str empty = cPath::ExportPath("");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(empty.capacity(), 1);
  EXPECT_TRUE(cPath::ExportPath(nullptr).isNil());
  // A second ":" after ":/" is only a character of a name.
  EXPECT_EQ(cPath::ExportPath("Work:/a:b"), "Work:a:b");
}

TEST(PathExport, InvalidPathsRaise) {
  for (const char* bad : {"Work:news/", "Work:feeds.db", "Work:", "a:"}) {
    SCOPED_TRACE(bad);
    expectRaise([&] { cPath::ExportPath(bad); }, "EPU", "cPath(); ExportPath(); path is invalid");
  }
}

TEST(PathValidity, Forms) {
  EXPECT_FALSE(cPath::InvalidDirPath(""));
  EXPECT_TRUE(cPath::InvalidFilePath(""));
  EXPECT_FALSE(cPath::InvalidDirPath("Work:/"));
  EXPECT_TRUE(cPath::InvalidFilePath("Work:/"));
  EXPECT_TRUE(cPath::InvalidDirPath("Work:news/"));
  EXPECT_TRUE(cPath::InvalidFilePath("Work:feeds.db"));
  EXPECT_TRUE(cPath::InvalidDirPath("news"));
  EXPECT_FALSE(cPath::InvalidFilePath("news"));
  EXPECT_FALSE(cPath::InvalidFilePath("Work:/x:y"));  // only the first ":" counts
  EXPECT_TRUE(cPath::InvalidFileName("x:y"));
}

TEST(PathValidity, Names) {
  EXPECT_FALSE(cPath::InvalidDirName("news"));
  EXPECT_FALSE(cPath::InvalidDirName("news/"));
  EXPECT_TRUE(cPath::InvalidDirName(""));
  EXPECT_TRUE(cPath::InvalidDirName("a/b"));
  EXPECT_TRUE(cPath::InvalidDirName("a:"));
  EXPECT_FALSE(cPath::InvalidFileName("feeds.db"));
  EXPECT_TRUE(cPath::InvalidFileName(""));
  EXPECT_TRUE(cPath::InvalidFileName("a/"));
}

TEST(PathValidity, NilRaises) {
  expectRaise([] { cPath::InvalidDirName(nullptr); }, "EPU", "cPath; InvalidDirName(); dirName=NILA");
  expectRaise([] { cPath::InvalidFileName(nullptr); }, "EPU", "cPath; InvalidFileName(); fileName=NILA");
  expectRaise([] { cPath::InvalidDirPath(nullptr); }, "EPU", "cPath; InvalidDirPath(); dirPath=NILA");
  expectRaise([] { cPath::InvalidFilePath(nullptr); }, "EPU", "cPath; InvalidFilePath(); filePath=NILA");
  expectRaise([] { cPath::FindName(nullptr); }, "EPU", "cPath; FindName(); path=NILA");
  expectRaise([] { cPath::ExtractName(nullptr); }, "EPU", "cPath; FindName(); path=NILA");
  expectRaise([] { cPath::ExtractSubPath(nullptr); }, "EPU", "cPath; ExtractSubPath(); path=NIL");
  expectRaise([] { cPath::ExtractDevice(nullptr); }, "EPU", "cPath; ExtractDevice(); path=NILA");
}

TEST(PathSurgery, NamesAndParts) {
  struct Case {
    const char* path;
    int32_t position, length;
    const char* name;
    const char* sub;
    const char* device;
  };
  const Case cases[] = {
      {"Work:/news/", 6, 5, "news/", "Work:/", "Work:/"},
      {"Work:/news/feeds.db", 11, 8, "feeds.db", "Work:/news/", "Work:/"},
      {"Work:/news/old/", 11, 4, "old/", "Work:/news/", "Work:/"},
      {"Work:/", 0, 6, "Work:/", "", "Work:/"},
      {"feeds.db", 0, 8, "feeds.db", "", ""},
      {"news/", 0, 5, "news/", "", ""},
      {"", 0, 0, "", "", ""},
      {"/", 0, 1, "/", "", ""},
      {"Work:/x", 6, 1, "x", "Work:/", "Work:/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PathNameSpan span = cPath::FindName(c.path);
    EXPECT_EQ(span.position, c.position);
    EXPECT_EQ(span.length, c.length);
    Str name = cPath::ExtractName(c.path);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(name.capacity(), c.length);
    EXPECT_EQ(cPath::ExtractSubPath(c.path), c.sub);
    EXPECT_EQ(cPath::ExtractDevice(c.path), c.device);
  }
  EXPECT_EQ(cPath::ExtractDevice("Work:/news/x").capacity(), 6);
}

// Random valid paths without empty names: importing what ExportPath gave, by
// the path's own form, gives the path back.
TEST(PathRoundTrip, ImportOfExportIsIdentity) {
  std::mt19937 rng(20261207);
  const std::string alphabet = "ab.Z_-:x y";
  auto name = [&] {
    std::string n;
    size_t len = 1 + rng() % 6;
    for (size_t i = 0; i < len; ++i) {
      char c = alphabet[rng() % alphabet.size()];
      n.push_back(c == ':' ? 'q' : c);
    }
    return n;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string p;
    bool absolute = rng() % 2;
    if (absolute) p = name() + ":/";
    size_t names = rng() % 5;
    for (size_t k = 0; k < names; ++k) p += name() + "/";
    bool file = rng() % 2;
    if (file) {
      p += name();
      if (absolute && rng() % 4 == 0) p += ":tail";  // a later ":" belongs to a name
    }
    SCOPED_TRACE(p);
    ASSERT_FALSE(file ? cPath::InvalidFilePath(p) : cPath::InvalidDirPath(p));
    Str native = cPath::ExportPath(p);
    Str back = file ? cPath::ImportFilePath(native) : cPath::ImportDirPath(native);
    ASSERT_EQ(back, p);
  }
}

// A path object whose setPath records the request and answers as told.
class RecordingPath : public cPath {
 public:
  explicit RecordingPath(std::string path) : path_(std::move(path)) {}
  bool open(Text, bool, bool) override { return false; }
  bool isOpen() const override { return false; }
  bool setAttributes(int32_t, int32_t) override { return false; }
  int32_t getAttributes() override { return 0; }
  int32_t getAttributesSupported() override { return 0; }
  bool setExtra(cExtra*) override { return false; }
  ExtraChange changeExtra(ExtraKey, const ExtraValue&) override { return {false, true}; }
  ExtraQuery queryExtra(ExtraKey) override { return {{}, true}; }
  bool setPath(Text path) override {
    requested = std::string(path.view());
    if (!accept) {
      setError("cHostFile.setPath()", Text(std::string("error renaming host file")));
      return false;
    }
    path_ = requested;
    return true;
  }
  Text getPath() const override { return Text(path_); }
  void fail(const char* source, const std::string& text) { setError(source, Text(text)); }

  bool accept = true;
  std::string requested;

 private:
  std::string path_;
};

TEST(PathObject, ClassNames) {
  RecordingPath p("x");
  EXPECT_STREQ(p.className(), "cPath");
  EXPECT_TRUE(p.isOfClass(cPath::kClassName));
  EXPECT_TRUE(p.isOfClass(cExtra::kClassName));
  EXPECT_TRUE(p.isOfClass(class_base::kClassName));
  EXPECT_EQ(p.infoErrorSource(), nullptr);
  EXPECT_TRUE(p.infoError().isNil());
  EXPECT_FALSE(p.infoReadOnly());
  EXPECT_EQ(p.getExtra(), nullptr);
  EXPECT_EQ(p.make(), nullptr);
  EXPECT_EQ(p.clone(true), nullptr);
}

TEST(PathObject, SetNameAndSubPath) {
  RecordingPath f("Work:/news/feeds.db");
  EXPECT_TRUE(f.setName("old.db"));
  EXPECT_EQ(f.requested, "Work:/news/old.db");
  EXPECT_EQ(f.getName(), "old.db");
  EXPECT_EQ(f.getSubPath(), "Work:/news/");
  EXPECT_TRUE(f.setSubPath("Work:/archive/"));
  EXPECT_EQ(f.requested, "Work:/archive/old.db");

  RecordingPath d("Work:/news/");
  EXPECT_TRUE(d.setName("old"));  // no "/" is added: setPath gets a file path
  EXPECT_EQ(d.requested, "Work:/old");
  RecordingPath d2("Work:/news/");
  EXPECT_TRUE(d2.setSubPath("RAM:/"));
  EXPECT_EQ(d2.requested, "RAM:/news/");

  RecordingPath refused("a/b");
  refused.accept = false;
  EXPECT_FALSE(refused.setName("c"));
  EXPECT_STREQ(refused.infoErrorSource(), "cPath.setName()");
  EXPECT_EQ(refused.infoError().view(), "error renaming host file");
  EXPECT_FALSE(refused.setSubPath("x/"));
  EXPECT_STREQ(refused.infoErrorSource(), "cPath.setSubPath()");

  expectRaise([&] { f.setName(nullptr); }, "EMU", "cPath.setName(); newFileName=NILA");
  expectRaise([&] { f.setSubPath(nullptr); }, "EMU", "cPath.setSubPath(); path=NILA");
}

// The object keeps its own copy of the error text: a text that changes or
// goes away afterwards leaves the object's last error as it was.
TEST(PathObject, ErrorTextIsOwnedCopy) {
  RecordingPath p("x");
  {
    std::string transient = "object not found";
    p.fail("cHostFile.open()", transient);
    transient.assign("something else entirely");
  }
  RecordingPath other("y");
  other.fail("cHostFile.open()", "disk is full");
  EXPECT_EQ(p.infoError().view(), "object not found");
  EXPECT_STREQ(p.infoErrorSource(), "cHostFile.open()");
}

}  // namespace
}  // namespace bw

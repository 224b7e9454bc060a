// app/opml_export_test.cpp - the OPML export: its exact layout, the escapes
// and charset conversion of names, strict readers (xmllint, newsboat), our
// own import reading it back, and an export onto a disk without room.
#include "app/opml_export.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "app/desktop_test_support.h"
#include "app/feed_commands_test_support.h"
#include "app/opml_read.h"
#include "gui/host/core/gui_input_hosts.h"
#include "gui/host/core/gui_path_request.h"
#include "gui/host/gui_qt_inputs.h"
#include "platform/host_io_test_support.h"
#include "platform/native_path.h"

namespace bw::testing_app {
namespace {

constexpr char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\">\n\t<head>\n\t\t<title>Feeds from "
    "Brindlework</title>\n\t</head>\n";

class OpmlExport : public FeedCommandTest {
 protected:
  std::unique_ptr<cEncoding> encoding(const char* name) { return encodingFromName(Text(name), false); }
  // What our import offers from the text: "name | address" per feed.
  std::vector<std::string> offered(const std::string& text, const cEncoding& cs) {
    testing_news::ScriptedNewsUi ui;
    OpmlDocument opml = readOpmlText(text, "export.opml");
    std::vector<std::string> out;
    if (opml) {
      walkOpmlOutlines(*opml.body, cs, [&](const OpmlFeedOutline& f) {
        out.push_back(f.name.str() + " | " + f.address.str() + " | " + (f.tags.isNil() ? "NIL" : f.tags.str()));
        return true;
      });
    }
    return out;
  }
};

TEST_F(OpmlExport, LayoutIsExact) {
  withFeeds([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root) {
    EXPECT_EQ(makeOpmlText(root, *charset), std::string(kHead) + "\t<body>\n\t\t</body>\n</opml>\n");
  });
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "A", 0, false, "u1");
    addFeed(db, root, "B", 1, false, "u2");
  });
  withFeeds([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root) {
    EXPECT_EQ(makeOpmlText(root, *charset),
              std::string(kHead) +
                  "\t<body>\n\t\t<outline type=\"rss\" text=\"A\" title=\"A\" xmlUrl=\"u1\"/>\n\t\t<outline "
                  "type=\"rss\" text=\"B\" title=\"B\" xmlUrl=\"u2\"/>\n\t</body>\n</opml>\n");
    // The file is made once: a second export to the same name is refused.
    const std::string path = "AppTest:/feeds.opml";
    ASSERT_TRUE(makeOpmlDocument(Text(path), root, *charset));
    EXPECT_EQ(bytes("feeds.opml"), makeOpmlText(root, *charset));
    write("feeds.opml", "kept");
    EXPECT_FALSE(makeOpmlDocument(Text(path), root, *charset));
    EXPECT_EQ(bytes("feeds.opml"), "kept");
  });
}

// Every way an export can fail leaves a file that was at the name byte for
// byte, no new file beside it, and answers the name and the system's words.
TEST_F(OpmlExport, AFailedExportKeepsTheFileItWouldReplace) {
  const std::string old = "<opml>the user's own list</opml>\n";
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    for (const char* name : {"A", "B", "C"}) addFeed(db, root, std::string(name) + std::string(3000, 'x'), 0);
  });
  fs::create_directories(at("frozen"));
  fs::create_directories(at("folder"));
  using K = OpmlWriteResult::Kind;
  const char* const refused = ::geteuid() == 0 ? "Operation not permitted" : "Permission denied";
  struct Case {
    const char* what;
    const char* name;  // in the test folder
    bool replace;
    K kind;
    const char* reason;
    int failWriteFrom = -1;  // the write that meets a full disk
    int syncError = 0;
  } cases[] = {
      {"folder missing", "missing/feeds.opml", false, K::kNotCreated, "No such file or directory"},
      {"folder read-only", "frozen/feeds.opml", true, K::kNotCreated, refused},
      {"target a folder", "folder", true, K::kNotCreated, "Is a directory"},
      {"target a folder, typed", "folder", false, K::kNotCreated, "File exists"},
      {"a file there, typed", "feeds.opml", false, K::kNotCreated, "File exists"},
      {"the sync fails", "feeds.opml", true, K::kNotWritten, "Input/output error", -1, EIO},
      {"full disk at write", "feeds.opml", true, K::kNotWritten, "No space left on device", 0},
  };
  withFeeds([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root) {
    const std::string whole = makeOpmlText(root, *charset);
    for (const Case& c : cases) {
      // Full disk: at every write in turn, until the export needs no more.
      for (int k = c.failWriteFrom;; ++k) {
        SCOPED_TRACE(std::string(c.what) + " " + std::to_string(k));
        write("feeds.opml", old);
        write("frozen/feeds.opml", old);
        std::optional<FrozenFolder> frozen;
        if (std::string(c.name).starts_with("frozen/") && !frozen.emplace(at("frozen")).frozen()) {
          std::cout << "the folder cannot be made read-only here: \"" << c.what << "\" is not tried\n";
          break;
        }
        auto io = std::make_shared<testing_io::RecordingIoBackend>();
        io->log->failWriteFrom = k;
        io->log->syncError = c.syncError;
        setDefaultIoBackend(io);
        const OpmlWriteResult r = makeOpmlDocument(Text(std::string("AppTest:/") + c.name), root, *charset, c.replace);
        setDefaultIoBackend(nullptr);
        frozen.reset();
        if (r && k > 0) {
          std::cout << "the export wrote " << k << " times\n";
          EXPECT_EQ(bytes("feeds.opml"), whole);
          EXPECT_EQ(fs::status(at("feeds.opml")).permissions() & fs::perms::all,
                    fs::perms::owner_read | fs::perms::owner_write);
          break;
        }
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.file, at(c.name).string());
        EXPECT_EQ(r.kept, c.name != std::string("missing/feeds.opml") && c.name != std::string("folder"));
        if (r.kept) {
          EXPECT_EQ(bytes(c.name), old);
        }
        EXPECT_TRUE(fs::is_empty(at("folder")));
        for (const char* folder : {"", "frozen"})
          for (const auto& e : fs::directory_iterator(at(folder)))
            EXPECT_EQ(e.path().filename().string().rfind("OPML_Export_", 0), std::string::npos) << e.path();
        if (c.failWriteFrom < 0) break;
        ASSERT_LT(k, 1000) << "the export never ends";
      }
    }
  });
}

TEST_F(OpmlExport, NamesAreConvertedAndEscapedOnce) {
  // Stored titles keep their document's escapes; user names are UTF-8.
  struct Case {
    const char* title;
    const char* userName;  // typed in the display charset; NIL: none
    const char* charset;
    const char* written;  // the text and title attributes
  } cases[] = {
      {"Fish &amp; Chips", nullptr, "UTF-8", "Fish &amp; Chips"},
      {"Caf\xC3\xA9 &#160;x", nullptr, "ISO-8859-1", "Caf\xC3\xA9 &#160;x"},
      {"Caf\xC3\xA9", nullptr, "UTF-8", "Caf\xC3\xA9"},
      {"Title", "Mine", "UTF-8", "Mine"},
      {"Title", "\"<a> & b\xC2\xA0", "UTF-8", "&quot;&lt;a&gt; &amp; b&#160;"},
      {"Title", "Gr\xFC\xDF", "ISO-8859-1", "Gr\xC3\xBC\xC3\x9F"},
  };
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    for (const Case& c : cases) addFeed(db, root, c.title, 0, false, "http://h/a&b");
  });
  withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    cEncodingUTF utf8;
    utf8.load("UTF-8");
    std::vector<newsFeed*> feeds = chain(root);
    for (size_t i = 0; i < feeds.size(); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(c.title);
      auto cs = encoding(c.charset);
      if (c.userName) feeds[i]->setName(db, *cs, utf8, c.userName);
      newsRoot one;
      one.firstLoadedFeed = feeds[i];
      newsFeed* next = feeds[i]->nextLoadedFeed;
      feeds[i]->nextLoadedFeed = nullptr;
      std::string text = makeOpmlText(one, *cs);
      feeds[i]->nextLoadedFeed = next;
      one.firstLoadedFeed = nullptr;
      EXPECT_NE(text.find(std::string("text=\"") + c.written + "\" title=\"" + c.written + "\" xmlUrl=\"http://h/a&amp;b\""),
                std::string::npos)
          << text;
      // Read back in UTF-8, the name is the display name as the user sees it.
      std::vector<std::string> back = offered(text, utf8);
      ASSERT_EQ(back.size(), 1u);
      Str shown = convertDocumentText(feeds[i]->infoName(cs.get()), *cs, utf8);
      EXPECT_EQ(back[0], shown.str() + " | http://h/a&b | NIL");
    }
  });
}

TEST_F(OpmlExport, StrictReadersAndNewsboatAgree) {
  if (runProgram({"xmllint", "--version"}).code < 0) GTEST_SKIP() << "xmllint (libxml2-utils) is not installed";
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "Plain", 0, false, "http://127.0.0.1/one");
    addFeed(db, root, "\"Quoted\" <tag> &amp;&#160;more", 0, false, "http://127.0.0.1/two?a=1&b=2");
  });
  withFeeds([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root) {
    cEncodingUTF utf8;
    utf8.load("UTF-8");
    ASSERT_TRUE(makeOpmlDocument("AppTest:/export.opml", root, utf8));
    const std::string file = at("export.opml").string();
    EXPECT_EQ(runProgram({"xmllint", "--noout", file}).code, 0);
    EXPECT_EQ(offered(bytes("export.opml"), utf8),
              (std::vector<std::string>{"Plain | http://127.0.0.1/one | NIL",
                                        "\"Quoted\" <tag> &\xC2\xA0more | http://127.0.0.1/two?a=1&b=2 | NIL"}));
    if (runProgram({"newsboat", "-v"}).code < 0) {
      std::cout << "newsboat is not installed: the peer checks are skipped\n";
      return;
    }
    const std::string urls = at("urls").string(), cache = at("cache.db").string();
    ASSERT_EQ(runProgram({"newsboat", "-u", urls, "-c", cache, "-i", file}, tree.host().string()).code, 0);
    EXPECT_EQ(bytes("urls"), "http://127.0.0.1/one\nhttp://127.0.0.1/two?a=1&b=2\n");
    ProgramOutput exported = runProgram({"newsboat", "-u", urls, "-c", cache, "-e"}, tree.host().string());
    ASSERT_EQ(exported.code, 0);
    std::vector<std::string> back = offered(exported.out, utf8);
    EXPECT_EQ(back, (std::vector<std::string>{" | http://127.0.0.1/one | NIL", " | http://127.0.0.1/two?a=1&b=2 | NIL"}));
  });
}

// A folder on a disk without room: a small tmpfs filled to its last byte
// where this process may mount one (root), else a folder whose files'
// writes fail with ENOSPC through the I/O seam.
class FullFolder {
 public:
  // What files holds is put in before the disk fills.
  FullFolder(const fs::path& dir, const std::map<std::string, std::string>& files) : dir_(dir) {
    fs::create_directories(dir);
    const bool mounted = ::mount("brindlework-test", dir.c_str(), "tmpfs", 0, "size=16k") == 0;
    for (const auto& [name, text] : files) std::ofstream(dir / name, std::ios::binary) << text;
    if (mounted) {
      mounted_ = true;
      const int fd = ::open((dir / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      const std::string block(512, 'f');
      while (::write(fd, block.data(), block.size()) > 0) {
      }
      ::close(fd);
    } else {
      setDefaultIoBackend(std::make_shared<Backend>(dos::hostToNative(dir.string() + "/")));
    }
  }
  ~FullFolder() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    setDefaultIoBackend(nullptr);
  }
  FullFolder(const FullFolder&) = delete;
  FullFolder& operator=(const FullFolder&) = delete;
  bool mounted() const { return mounted_; }

 private:
  class Backend final : public HostIoBackend {
   public:
    explicit Backend(std::string dir) : dir_(std::move(dir)) { full_->failWriteFrom = 0; }
    std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
      std::unique_ptr<HostIo> io = systemIoBackend()->open(native, mode);
      if (!io || !native.view().starts_with(dir_)) return io;
      return std::make_unique<testing_io::RecordingIo>(std::move(io), full_);
    }
    int syncFolderOf(Text native) override { return systemIoBackend()->syncFolderOf(native); }

   private:
    std::string dir_;
    std::shared_ptr<testing_io::IoLog> full_ = std::make_shared<testing_io::IoLog>();
  };
  fs::path dir_;
  bool mounted_ = false;
};

class OpmlExportOnTheDesktop : public DesktopProgramTest {};

// The export onto a full disk tells so in a requester with the system's
// words, leaves no cut file, keeps the file it would replace byte for byte,
// and the program runs on with its database as it was: the user quits it
// later as ever.
TEST_F(OpmlExportOnTheDesktop, AFullDiskIsToldAndTheProgramRunsOn) {
  withDatabase("database.soup", addFeedsAsAUserHasThem);
  const std::string old = "<opml>the list before</opml>\n";
  FullFolder full(at("full"), {{"kept.opml", old}});
  std::cout << (full.mounted() ? "a 16 KiB tmpfs filled to the last byte\n" : "no mount here: writes fail with ENOSPC\n");
  const std::string file = at("full/feeds.opml").string(), kept = at("full/kept.opml").string();
  guiSetPathChooser([&](const GuiPathRequest&) { return std::optional<GuiPathAnswer>({at("full").string(), "kept.opml"}); });
  std::vector<std::vector<std::string>> told;
  auto exporter = [] { return windowTitled("Export OPML file"); };
  auto toldAndClosed = [&] {
    cGuiWindow* requester = exporter();
    ASSERT_TRUE(requester && requester->infoIsOpen()) << "no requester";
    told.push_back(labelsOf(requester));
    EXPECT_FALSE(fs::exists(file)) << "the cut file was left";
    EXPECT_EQ(bytes("full/kept.opml"), old);
    screenshot(requester, told.size() == 1 ? "export_opml_full_disk" : "export_opml_full_disk_replacing");
    click(requester, okButton(requester));
  };
  const int rc = runGui({
      [&] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Export")); },
      [&] {
        // Typed as a user types it, the name enables "OK".
        auto* path = static_cast<QLineEdit*>(guiView(*gadget<cGuiPathString>(exporter(), "File"))->nativeObject());
        path->setFocus();
        QTest::keyClicks(path, QString::fromStdString(file));
      },
      [&] {
        EXPECT_FALSE(okButton(exporter())->infoDisabled());
        click(exporter(), okButton(exporter()));
      },
      toldAndClosed,
      // Again onto a file that is there, as the save chooser gives it.
      [&] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Export")); },
      [&] { guiPathRequest(*static_cast<cGuiPathStringHost*>(gadget<cGuiPathString>(exporter(), "File")), guiPathChooser()); },
      [&] {
        EXPECT_FALSE(okButton(exporter())->infoDisabled());
        click(exporter(), okButton(exporter()));
      },
      toldAndClosed,
      [&] {
        ASSERT_TRUE(mainWindow() && mainWindow()->infoIsOpen()) << "the main window went";
        closeWindow(mainWindow());
      },
  });
  guiSetPathChooser({});
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(told, (std::vector<std::vector<std::string>>{
                      {"The OPML file could not be written:", file, "No space left on device",
                       "The unfinished file was removed."},
                      {"The OPML file could not be written:", kept, "No space left on device",
                       "The file that was there is unchanged."}}));
  EXPECT_EQ(output.find("database"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(bytes("full/kept.opml"), old);
  withDatabase("database.soup", [](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    EXPECT_FALSE(db.infoNeedsRepair());
    int feeds = 0;
    for (int32_t i = root.feedList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) ++feeds;
    EXPECT_EQ(feeds, 5);
  });
}

}  // namespace
}  // namespace bw::testing_app

// app/data_folder_road_test.cpp - where a user's data lives: the built
// program run from a folder of its own without $BRINDLEWORK_PROGDIR, its
// data in $XDG_DATA_HOME/brindlework: the folder and every file made
// private, the default taken from beside the program, and an earlier
// version's database moved over once.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

class DataFolderRoadTest : public ProgramTest {
 protected:
  testing_paths::TempTree home{"DataFolderRoad"};
  fs::path bin = home.host("bin");
  fs::path data = home.host("data/brindlework");

  void SetUp() override {
    ProgramTest::SetUp();
    fs::create_directories(bin);
    // The program and its default database in a folder of their own (a
    // link where the file system allows, else a copy).
    std::error_code ec;
    fs::create_hard_link(BRINDLEWORK_EXECUTABLE, bin / "brindlework", ec);
    if (ec) fs::copy_file(BRINDLEWORK_EXECUTABLE, bin / "brindlework");
    makeEmptyDatabase("database.soup.default");
    fs::copy_file(at("database.soup.default"), bin / "database.soup.default");
    fs::rename(at("database.soup.default"), at("database.soup.default.kept"));
  }
  // Runs the program (the one in bin unless told), its data in progdir
  // when given, else in the data folder.
  ChildResult runProgram(const fs::path& progdir = {}, const std::string& program = {}) {
    return runChild({program.empty() ? (bin / "brindlework").string() : program, "UpdateAll"},
                    {{"BRINDLEWORK_PROGDIR", progdir.string()}, {"XDG_DATA_HOME", home.host("data").string()},
                     {"HOME", home.host("home").string()}, {"QT_QPA_PLATFORM", "offscreen"}});
  }
  static unsigned modeOf(const fs::path& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(DataFolderRoadTest, AFirstStartMakesAPrivateFolderOfPrivateFiles) {
  const ChildResult r = runProgram();
  EXPECT_EQ(r.rc, 0) << r.output;
  EXPECT_EQ(r.output, "No feeds to update.\n");
  EXPECT_EQ(modeOf(home.host("data")), 0700u);  // a parent it made
  EXPECT_EQ(modeOf(data), 0700u);
  EXPECT_EQ(namesIn(data), (std::vector<std::string>{"database.soup", "database.soup.bak_1Latest"}));
  for (const std::string& name : namesIn(data)) EXPECT_EQ(modeOf(data / name), 0600u) << name;
  // The program's own folder is only read.
  EXPECT_EQ(namesIn(bin), (std::vector<std::string>{"brindlework", "database.soup.default"}));
}

TEST_F(DataFolderRoadTest, AnEarlierVersionsDatabaseIsMovedOverOnce) {
  makeEmptyDatabase("earlier.soup");
  withDatabase("earlier.soup", [](Db& db, newsRoot& root) { addFeed(db, root, "kept", 2, true); });
  for (const char* name : {"database.soup", "database.soup.bak_2KnownGood"}) {
    fs::copy_file(at("earlier.soup"), bin / name);
    fs::permissions(bin / name, fs::perms(0644));
  }
  const ChildResult moved = runProgram();
  EXPECT_EQ(moved.rc, 0) << moved.output;
  EXPECT_EQ(moved.output.rfind("The database was moved from \"" + bin.string() + "\" to the data folder \"" +
                                   data.string() + "\".\n\n", 0),
            0u)
      << moved.output;
  EXPECT_EQ(namesIn(bin), (std::vector<std::string>{"brindlework", "database.soup.default"}));
  EXPECT_EQ(namesIn(data), (std::vector<std::string>{"database.soup", "database.soup.bak_1Latest",
                                                     "database.soup.bak_2KnownGood"}));
  for (const std::string& name : namesIn(data)) EXPECT_EQ(modeOf(data / name), 0600u) << name;
  // The feeds came with it.
  fs::copy_file(data / "database.soup", at("moved.soup"));
  withDatabase("moved.soup", [](Db& db, newsRoot& root) {
    ASSERT_NE(root.feedList->infoHeadIndex(), 0);
    newsFeed* feed = loadObject_newsFeed(db, root.feedList->infoHeadIndex());
    EXPECT_EQ(feed->title.view(), "kept");
    db.unloadObject(feed);
  });
  // Once: a database left beside the program later stays where it is.
  fs::copy_file(at("earlier.soup"), bin / "database.soup");
  const ChildResult again = runProgram();
  EXPECT_EQ(again.rc, 0) << again.output;
  EXPECT_EQ(again.output, "Updated 0 feeds: 0 new items.\n");  // the update's end alone
  EXPECT_TRUE(fs::exists(bin / "database.soup"));
}

// A folder named by $BRINDLEWORK_PROGDIR is the data folder: the default
// still comes from beside the program, and everything made goes there.
TEST_F(DataFolderRoadTest, AFirstStartInAnOverridingFolderMakesItsDatabaseThere) {
  const fs::path mine = home.host("mine");
  fs::create_directories(mine);
  fs::permissions(mine, fs::perms(0755));
  const ChildResult r = runProgram(mine);
  EXPECT_EQ(r.rc, 0) << r.output;
  EXPECT_EQ(r.output, "No feeds to update.\n");
  EXPECT_EQ(namesIn(mine), (std::vector<std::string>{"database.soup", "database.soup.bak_1Latest"}));
  for (const std::string& name : namesIn(mine)) EXPECT_EQ(modeOf(mine / name), 0600u) << name;
  EXPECT_EQ(modeOf(mine), 0755u);  // the user's folder as it stood
  EXPECT_FALSE(fs::exists(home.host("data")));
  EXPECT_EQ(namesIn(bin), (std::vector<std::string>{"brindlework", "database.soup.default"}));
  // A missing one is made, private; the built program finds the default
  // made beside it in the build.
  const fs::path made = home.host("new/feeds");
  const ChildResult built = runProgram(made, BRINDLEWORK_EXECUTABLE);
  EXPECT_EQ(built.rc, 0) << built.output;
  EXPECT_EQ(modeOf(home.host("new")), 0700u);
  EXPECT_EQ(modeOf(made), 0700u);
  EXPECT_EQ(namesIn(made), (std::vector<std::string>{"database.soup", "database.soup.bak_1Latest"}));
  EXPECT_EQ(modeOf(made / "database.soup"), 0600u);
}

// Without a default beside the program or under its prefix's share folder
// a first start cannot be made, and says where it looked.
TEST_F(DataFolderRoadTest, ADefaultDatabaseFoundNowhereIsToldInWords) {
  fs::remove(bin / "database.soup.default");
  const fs::path mine = home.host("mine");
  fs::create_directories(mine);
  const ChildResult r = runProgram(mine);
  EXPECT_EQ(r.rc, 10);
  EXPECT_EQ(r.output.rfind("Failed to open database, due to:\nThere is no \"database.soup\" yet, and the default "
                           "database \"database.soup.default\" that a new one is made from was not found in \"" +
                               mine.string() + "\", \"" + bin.string() + "\" or \"" +
                               home.host("share/brindlework").string() + "\".\n",
                           0),
            0u)
      << r.output;
  EXPECT_TRUE(fs::is_empty(mine));
  // An installed program's default, under share/brindlework beside bin.
  fs::create_directories(home.host("share/brindlework"));
  fs::copy_file(at("database.soup.default.kept"), home.host("share/brindlework/database.soup.default"));
  const ChildResult installed = runProgram(mine);
  EXPECT_EQ(installed.rc, 0) << installed.output;
  EXPECT_EQ(namesIn(mine), (std::vector<std::string>{"database.soup", "database.soup.bak_1Latest"}));
}

TEST_F(DataFolderRoadTest, ADataFolderThatCannotBeMadeIsToldInWords) {
  std::ofstream(home.host("data")) << "a file where the folder should be";
  const ChildResult r = runProgram();
  EXPECT_EQ(r.rc, 10);
  EXPECT_EQ(r.output, "Failed to make the data folder \"" + data.string() + "\", due to:\nNot a directory\n\n");
  EXPECT_EQ(namesIn(bin), (std::vector<std::string>{"brindlework", "database.soup.default"}));
  // Nothing names one: the reason, never an empty folder name.
  const ChildResult none = runChild({(bin / "brindlework").string(), "UpdateAll"},
                                    {{"BRINDLEWORK_PROGDIR", ""}, {"XDG_DATA_HOME", ""}, {"HOME", ""}});
  EXPECT_EQ(none.rc, 10);
  EXPECT_EQ(none.output, "Failed to find the data folder, due to:\nneither XDG_DATA_HOME nor HOME names a folder\n\n");
}

}  // namespace
}  // namespace bw::testing_app

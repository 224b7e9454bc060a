// Tests of the application frame and the global application host.
#include "platform/app_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/raise_test_support.h"
#include "platform/app_host.h"

namespace bw {
namespace {

using ::testing::ElementsAre;

// A client that records every call in a shared trace.
class RecordingClient : public cAppClient {
 public:
  RecordingClient(std::string name, std::vector<std::string>& trace)
      : name_(std::move(name)), trace_(trace) {}
  void beforeBuild(cApp&) override { trace_.push_back(name_ + ".beforeBuild"); }
  void build(cApp& app) override {
    trace_.push_back(name_ + ".build");
    if (failBuild) raise("ERR", "cGuiAppClient.build(); failed to create GUI");
    if (app.infoVersion().isNil()) app.initVersion(app.infoTitle());
  }
  void unbuild() override { trace_.push_back(name_ + ".unbuild"); }
  void minimise(cApp&, bool flag) override { trace_.push_back(name_ + (flag ? ".restore" : ".iconify")); }
  bool failBuild = false;

 private:
  std::string name_;
  std::vector<std::string>& trace_;
};

// A resource that counts its deletions.
class CountedResource : public cAppResource {
 public:
  explicit CountedResource(std::vector<int>& deleted, int id) : deleted_(deleted), id_(id) {}
  ~CountedResource() override { deleted_.push_back(id_); }

 private:
  std::vector<int>& deleted_;
  int id_;
};

TEST(AppFrameTest, ClassNamesAndBases) {
  cAppHost host;
  EXPECT_STREQ(host.className(), "cAppHost");
  EXPECT_TRUE(host.isOfClass(cApp::kClassName));
  cAppClient client;
  EXPECT_STREQ(client.className(), "cAppClient");
  cAppResource res;
  EXPECT_STREQ(res.className(), "cAppResource");
}

TEST(AppFrameTest, BuildCallsEveryBeforeBuildFirstInRegistrationOrder) {
  std::vector<std::string> trace;
  RecordingClient a("a", trace), b("b", trace);
  cApp app;
  app.registerClient(&a);
  app.registerClient(&b);
  app.initTitle("Brindlework");
  app.build();
  EXPECT_TRUE(app.infoBuilt());
  EXPECT_THAT(trace, ElementsAre("a.beforeBuild", "b.beforeBuild", "a.build", "b.build"));
  EXPECT_EQ(app.infoVersion(), "Brindlework");  // a filled in the missing version
  trace.clear();
  app.minimise(false);
  app.minimise(true);
  EXPECT_THAT(trace, ElementsAre("a.iconify", "b.iconify", "a.restore", "b.restore"));
}

TEST(AppFrameTest, BuildWithoutClientsAndRuleViolations) {
  cApp app;
  expectRaise([&] { app.build(); }, "EMU", "cApp.build(); initTitle() was not used");
  expectRaise([&] { app.minimise(true); }, "EMU", "cApp.minimise(); app has not been built yet");
  expectRaise([&] { app.registerClient(nullptr); }, "EMU", "cApp.registerClient(); client=NIL");
  app.initTitle("x");
  app.build();
  EXPECT_TRUE(app.infoBuilt());
  expectRaise([&] { app.build(); }, "EMU", "cApp.build(); already used build()");
  EXPECT_TRUE(app.infoBuilt());
}

TEST(AppFrameTest, FailingClientBuildLeavesAppUnbuiltAndBuildCanRetry) {
  std::vector<std::string> trace;
  RecordingClient a("a", trace), b("b", trace);
  cApp app;
  app.registerClient(&a);
  app.registerClient(&b);
  app.initTitle("t");
  b.failBuild = true;
  expectRaise([&] { app.build(); }, "ERR", "cGuiAppClient.build(); failed to create GUI");
  EXPECT_FALSE(app.infoBuilt());
  EXPECT_THAT(trace, ElementsAre("a.beforeBuild", "b.beforeBuild", "a.build", "b.build"));
  b.failBuild = false;
  app.build();
  EXPECT_TRUE(app.infoBuilt());
}

TEST(AppFrameTest, UnbuildClearsTextsAndFlagsButNotSizesNorClients) {
  std::vector<std::string> trace;
  RecordingClient a("a", trace);
  cApp app;
  app.registerClient(&a);
  app.initTitle("t").initVersion("1.2").initCopyright("c").initAuthor("au").initDescription("d");
  app.initFullScreen(640, 480);
  app.build();
  app.unbuild();
  EXPECT_FALSE(app.infoBuilt());
  EXPECT_TRUE(app.infoTitle().isNil());
  EXPECT_TRUE(app.infoVersion().isNil());
  EXPECT_TRUE(app.infoCopyright().isNil());
  EXPECT_TRUE(app.infoAuthor().isNil());
  EXPECT_TRUE(app.infoDescription().isNil());
  EXPECT_FALSE(app.infoFullWindow());
  FullScreenInfo fs = app.infoFullScreen();
  EXPECT_FALSE(fs.fullScreen);
  EXPECT_EQ(fs.width, 640);
  EXPECT_EQ(fs.height, 480);
  EXPECT_EQ(app.infoFirstClient(), &a);
  EXPECT_THAT(trace, ElementsAre("a.beforeBuild", "a.build", "a.unbuild"));
  // The title must be given again before the next build.
  expectRaise([&] { app.build(); }, "EMU", "cApp.build(); initTitle() was not used");
  app.initTitle("t");
  app.build();
  EXPECT_TRUE(app.infoBuilt());
  // Full window is allowed again after unbuild.
  app.unbuild();
  app.initFullWindow();
  EXPECT_TRUE(app.infoFullWindow());
}

TEST(AppFrameTest, FullWindowAndFullScreenExcludeEachOther) {
  cApp app;
  app.initFullWindow().initFullWindow();
  expectRaise([&] { app.initFullScreen(800, 600); }, "EMU",
              "cApp.initFullScreen(); already used initFullWindow()");
  EXPECT_TRUE(app.infoFullWindow());
  EXPECT_FALSE(app.infoFullScreen().fullScreen);
  cApp other;
  other.initFullScreen(1, 2);
  expectRaise([&] { other.initFullWindow(); }, "EMU", "cApp.initFullWindow(); already used initFullScreen()");
  EXPECT_FALSE(other.infoFullWindow());
  other.newApp();
  EXPECT_FALSE(other.infoFullScreen().fullScreen);
  EXPECT_EQ(other.infoFullScreen().height, 2);
}

TEST(AppFrameTest, TextsAreCopiesAndCanBeReplaced) {
  cApp app;
  {
    Str title("Brindle");
    app.initTitle(title);
  }
  EXPECT_EQ(app.infoTitle(), "Brindle");
  app.initTitle("work");
  EXPECT_EQ(app.infoTitle(), "work");
  app.initTitle(nullptr);
  EXPECT_TRUE(app.infoTitle().isNil());
}

TEST(AppFrameTest, ScreenCanBeSetOnceUntilNewOrUnbuild) {
  cAppHost host;
  int screenA = 0, screenB = 0;
  host.setScreen(&screenA);
  expectRaise([&] { host.setScreen(&screenB); }, "EMU",
              "cAppHost.setScreen(); the screen has already been set");
  EXPECT_EQ(host.getScreen(), &screenA);
  host.unbuild();
  EXPECT_EQ(host.getScreen(), nullptr);
  host.setScreen(&screenB);
  host.newApp();
  EXPECT_EQ(host.getScreen(), nullptr);
  host.setScreen(&screenA);
  EXPECT_EQ(host.getScreen(), &screenA);
}

std::vector<cAppResource*> listOf(const cAppClient& client) {
  std::vector<cAppResource*> out;
  cAppResource* last = nullptr;
  for (cAppResource* r = client.infoFirstResource(); r; r = r->infoNextResource()) {
    EXPECT_EQ(r->infoPrevResource(), last);
    out.push_back(r);
    last = r;
  }
  EXPECT_EQ(client.infoLastResource(), last);
  return out;
}

TEST(AppFrameTest, AddAndRemFromEveryPosition) {
  std::vector<int> deleted;
  cAppClient client;
  expectRaise([&] { client.add(nullptr); }, "EMU", "cAppClient.add(); res=NIL");
  CountedResource stray(deleted, 99);
  expectRaise([&] { client.rem(&stray); }, "BUG", "cAppClient.rem(); resource is not in the list");

  auto* r1 = new CountedResource(deleted, 1);
  client.add(r1);
  EXPECT_EQ(r1->infoOwnerClient(), &client);
  expectRaise([&] { client.rem(&stray); }, "BUG", "cAppClient.rem(); resource is not in the list");
  EXPECT_EQ(client.rem(r1), r1);  // the only one
  EXPECT_THAT(listOf(client), ElementsAre());
  EXPECT_EQ(r1->infoOwnerClient(), &client);  // not cleared by rem
  expectRaise([&] { client.rem(r1); }, "BUG", "cAppClient.rem(); resource is not in the list");

  auto* r2 = new CountedResource(deleted, 2);
  auto* r3 = new CountedResource(deleted, 3);
  auto* r4 = new CountedResource(deleted, 4);
  for (cAppResource* r : {static_cast<cAppResource*>(r1), static_cast<cAppResource*>(r2),
                          static_cast<cAppResource*>(r3), static_cast<cAppResource*>(r4)})
    client.add(r);
  EXPECT_THAT(listOf(client), ElementsAre(r1, r2, r3, r4));
  EXPECT_EQ(client.rem(r1), r1);  // first
  EXPECT_THAT(listOf(client), ElementsAre(r2, r3, r4));
  EXPECT_EQ(client.rem(r3), r3);  // middle
  EXPECT_THAT(listOf(client), ElementsAre(r2, r4));
  EXPECT_EQ(client.rem(r4), r4);  // last
  EXPECT_THAT(listOf(client), ElementsAre(r2));
  // Taken out before, or never added: refused, even from a longer list.
  client.add(r4);
  expectRaise([&] { client.rem(r1); }, "BUG", "cAppClient.rem(); resource is not in the list");
  expectRaise([&] { client.rem(&stray); }, "BUG", "cAppClient.rem(); resource is not in the list");
  EXPECT_THAT(listOf(client), ElementsAre(r2, r4));
  delete r1;
  delete r3;
  EXPECT_THAT(deleted, ElementsAre(1, 3));
}

// A resource deleted while listed leaves the list whole behind it.
TEST(AppFrameTest, DeletingAListedResourceUnlinksIt) {
  std::vector<int> deleted;
  cAppClient client;
  auto* r1 = new CountedResource(deleted, 1);
  auto* r2 = new CountedResource(deleted, 2);
  auto* r3 = new CountedResource(deleted, 3);
  client.add(r1);
  client.add(r2);
  client.add(r3);
  delete r2;
  EXPECT_THAT(listOf(client), ElementsAre(r1, r3));
  delete r1;
  EXPECT_THAT(listOf(client), ElementsAre(r3));
  EXPECT_TRUE(client.holds(r3));
  EXPECT_THAT(deleted, ElementsAre(2, 1));
}

TEST(AppFrameTest, DeletingClientDeletesRemainingResourcesInOrder) {
  std::vector<int> deleted;
  {
    cAppClient client;
    client.add(new CountedResource(deleted, 1));
    client.add(new CountedResource(deleted, 2));
    client.add(new CountedResource(deleted, 3));
  }
  EXPECT_THAT(deleted, ElementsAre(1, 2, 3));
}

TEST(AppHostTest, FilePartOfCommandPath) {
  EXPECT_EQ(filePartOfCommandPath("Work:Tools/Prog"), "Prog");
  EXPECT_EQ(filePartOfCommandPath("Work:Prog"), "Prog");
  EXPECT_EQ(filePartOfCommandPath("C:\\bin\\Prog"), "Prog");
  EXPECT_EQ(filePartOfCommandPath("Prog"), "Prog");
  EXPECT_EQ(filePartOfCommandPath("dir/"), "");
}

// Swaps the process's program name for a test.
class ProgramNameScope {
 public:
  explicit ProgramNameScope(const char* name) : saved_(program_invocation_name), name_(name) {
    program_invocation_name = name_.data();
  }
  ~ProgramNameScope() { program_invocation_name = saved_; }

 private:
  char* saved_;
  std::string name_;
};

TEST(AppHostTest, ModuleProceduresWithoutAHost) {
  endAppHost();
  EXPECT_EQ(appHost(), nullptr);
  unbuildAppHost();
  endAppHost();
  expectRaise([&] { MinimiseApp(true); }, "EMU", "cApp; MinimiseApp(); app has not been created yet");
  expectRaise([&] { newAppHost("x"); }, "EMU", "cApp; newAppHost(); app has not been created yet");
}

TEST(AppHostTest, LifeOfTheGlobalHost) {
  std::vector<std::string> trace;
  RecordingClient gui("gui", trace);
  initAppHost();
  ASSERT_NE(appHost(), nullptr);
  appHost()->registerClient(&gui);
  {
    ProgramNameScope name("Work:Tools/Prog");
    EXPECT_EQ(newAppHost(nullptr), appHost());
    EXPECT_EQ(appHost()->infoTitle(), "Prog");
  }
  {
    ProgramNameScope name("brindlework");
    newAppHost(nullptr);
    EXPECT_EQ(appHost()->infoTitle(), "brindlework");
  }
  newAppHost("Brindlework");
  EXPECT_EQ(appHost()->infoTitle(), "Brindlework");
  expectRaise([&] { MinimiseApp(false); }, "EMU", "cApp.minimise(); app has not been built yet");
  appHost()->build();
  MinimiseApp(false);
  unbuildAppHost();
  EXPECT_FALSE(appHost()->infoBuilt());
  EXPECT_THAT(trace, ElementsAre("gui.beforeBuild", "gui.build", "gui.iconify", "gui.unbuild"));
  endAppHost();
  EXPECT_EQ(appHost(), nullptr);
}

}  // namespace
}  // namespace bw

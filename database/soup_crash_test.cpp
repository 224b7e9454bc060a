// database/soup_crash_test.cpp - crash simulation of a soup and list
// workload on the in-memory backend: the run is cut before every backend
// operation (process crash) and, for a sample, under power loss. Every
// image must reopen reporting needs-repair, show commit i or i + 1, and pass
// both checker levels.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"
#include "database/soup_crash_workload_test_support.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"

namespace bw {
namespace {

using soupcheck::Expect;

constexpr int kCommits = 12;

class SoupCrashTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> openOn(std::shared_ptr<CrashingIoBackend> on) {
    auto f = std::make_unique<JournaledSoupBlockFile>(0);
    f->file().setIoBackend(on);
    std::string name = native("crash.soup");
    f->setPathProbe([on, name](Text) { return on->exists(name); });
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(f));
    EXPECT_TRUE(db->open(Text(internal("crash.soup")), false));
    return db;
  }

  std::vector<uint8_t> startImage() {
    auto on = std::make_shared<CrashingIoBackend>();
    auto db = openOn(on);
    testing::setUpCrashWorkload(*db);
    db->close();
    return on->image(native("crash.soup"));
  }

  struct Run {
    int64_t acknowledged = 0;
    bool opened = false;  // the open mark was committed
    bool crashed = false;
    std::shared_ptr<CrashingIoBackend> backend;
  };
  Run runUntil(const std::vector<uint8_t>& start, int64_t k) {
    Run run;
    // The file layer adapts its default chunk size to the files it has
    // seen; each run starts from the same one so that its operations are
    // the same up to the crash.
    setDefaultChunkSize(kMinChunkSize);
    run.backend = std::make_shared<CrashingIoBackend>();
    run.backend->setImage(native("crash.soup"), start);
    run.backend->crashBefore(k);
    try {
      auto db = openOn(run.backend);
      run.opened = true;
      for (int64_t n = 1; n <= kCommits; ++n) {
        testing::crashTransaction(*db, n);
        run.acknowledged = n;
      }
      db->close();
    } catch (const SimulatedCrash&) {
      run.crashed = true;
    }
    return run;
  }

  void expectRecovers(const std::vector<uint8_t>& image, const Run& run) {
    soupcheck::Report r = soupcheck::check(image, Expect::kCrashed);
    ASSERT_TRUE(r.clean()) << soupcheck::describe(r);
    for (auto& f : soupcheck::checkIndexLevel(r.effectiveData)) ADD_FAILURE() << f;
    soupcheck::SoupLevelReport s = soupcheck::checkSoupLevel(r.effectiveData);
    for (auto& f : s.findings) ADD_FAILURE() << f;
    auto on = std::make_shared<CrashingIoBackend>();
    on->setImage(native("crash.soup"), image);
    auto db = openOn(on);
    ASSERT_TRUE(db->isOpen());
    // A run cut inside its final close may have stored the clean mark.
    if (run.opened && run.acknowledged < kCommits) {
      EXPECT_TRUE(db->infoNeedsRepair());
    }
    int64_t shown = testing::shownCommit(*db);
    EXPECT_TRUE(shown == run.acknowledged || shown == run.acknowledged + 1)
        << "shows commit " << shown << ", acknowledged " << run.acknowledged;
    // The recovered database takes new commits.
    testing::crashTransaction(*db, shown + 1);
    EXPECT_EQ(testing::shownCommit(*db), shown + 1);
    db->close();
    expectChecked(on->image(native("crash.soup")), Expect::kClosed);
  }
};

TEST_F(SoupCrashTest, EveryCrashPointRecoversACommit) {
  const std::vector<uint8_t> start = startImage();
  Run full = runUntil(start, -1);
  ASSERT_FALSE(full.crashed);
  ASSERT_EQ(full.acknowledged, kCommits);
  int64_t total = full.backend->opCount();
  for (int64_t k = 0; k < total; ++k) {
    SCOPED_TRACE("crash before operation " + std::to_string(k));
    Run run = runUntil(start, k);
    ASSERT_TRUE(run.crashed) << "ops " << run.backend->opCount() << " of " << total;
    expectRecovers(run.backend->image(native("crash.soup")), run);
    if (k % 7 == 0) {
      for (uint64_t variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE("power loss variant " + std::to_string(variant));
        expectRecovers(run.backend->powerLossImage(native("crash.soup"), variant), run);
      }
    }
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace bw

// Tests of the translate engine: the documented cases, a differential test
// against a naive leftmost-first scanner, and faulty matchers.
#include "core/translate.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/exception.h"
#include "core/ordering.h"
#include "core/raise_test_support.h"
#include "core/translate_test_model.h"

namespace bw {
namespace {

class TranslateTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    initMegaListModule();
    initTranslateEngine();
  }
  static void TearDownTestSuite() {
    endTranslateEngine();
    endMegaListModule();
  }
};

Str translate(Text text, std::vector<const char*> dict, int32_t length = 0, bool nilIfUnchanged = false,
              int32_t start = 0) {
  dict.push_back(nullptr);
  return translateStr(text, dict.data(), length, nilIfUnchanged, start);
}

TEST_F(TranslateTest, DocumentedCases) {
  TranslateEntry empty[1] = {};
  EXPECT_EQ(dynamicTranslateStr("abc", empty, 0, false, 0), "abc");
  EXPECT_TRUE(dynamicTranslateStr("abc", empty, 0, true, 0).isNil());

  Str none = translate("", {"a", "b"});
  EXPECT_EQ(none, "");
  EXPECT_EQ(none.capacity(), 0);
  EXPECT_TRUE(translate("", {"a", "b"}, 0, true).isNil());

  Str ba = translate("aaa", {"aa", "b"});
  EXPECT_EQ(ba, "ba");
  EXPECT_EQ(ba.capacity(), 2);
  EXPECT_EQ(translate("&amp;&", {"&", "[and]", "&amp;", "&"}), "[and]amp;[and]");
  EXPECT_EQ(translate("&amp;&", {"&amp;", "&", "&", "[and]"}), "&[and]");

  // With start past 0 and a match the text before start is dropped; with no
  // match the whole text is copied.
  EXPECT_EQ(translate("xxaxa", {"a", "b"}, 0, false, 3), "xb");
  EXPECT_EQ(translate("xxaxa", {"q", "b"}, 0, false, 3), "xxaxa");
  // length bounds the work.
  EXPECT_EQ(translate("aaaa", {"a", "bb"}, 2), "bbbb");
  EXPECT_EQ(translate("aa", {"aaa", "x"}, 2), "aa");
  // Matching stops at the first NUL; the rest up to length is copied.
  Str withNul = Str::withCapacity(5, std::string_view("a\0a a", 5));
  EXPECT_EQ(translate(withNul, {"a", "b"}, 5), std::string_view("b\0a a", 5));

  expectRaise([] { translate("abc", {"a", "b", "c"}); }, "EPU",
              "translateStr(); dictionary is not an even number of items (pairs)");
  expectRaise([] { translate("abc", {"a", "b"}, 4); }, "EPU", "dynamicTranslateStr(); length outside the text");
  expectRaise([] { translate("abc", {"a", "b"}, 0, false, 4); }, "EPU",
              "dynamicTranslateStr(); start outside the text");
}

TEST_F(TranslateTest, DummySimpleAndJoin) {
  TranslateEntry dummy[] = {{&sharedDummyTranslateMatcher(), "a", nullptr, 0, "x", nullptr}, {}};
  EXPECT_TRUE(dynamicTranslateStr("aaa", dummy, 0, true, 0).isNil());
  TranslateEntry base[] = {{&sharedTranslateMatcher(), nullptr, &sharedTranslateAdder(), 0, "x", nullptr}, {}};
  EXPECT_TRUE(dynamicTranslateStr("aaa", base, 0, true, 0).isNil());

  TranslateEntry two[] = {{&sharedSimpleTranslateMatcher(), "a", nullptr, 1, "A", nullptr},
                          {&sharedSimpleTranslateMatcher(), "b", nullptr, 2, "B", nullptr},
                          {}};
  TranslateEntry three[] = {{&sharedFixedTranslateMatcher(), "a", &sharedFixedTranslateAdder(), 3, "1", nullptr},
                            {&sharedFixedTranslateMatcher(), "c", &sharedFixedTranslateAdder(), 4, "3", nullptr},
                            {&sharedFixedTranslateMatcher(), "dd", &sharedFixedTranslateAdder(), 5, "4", nullptr},
                            {}};
  TranslateTable joined = joinTranslateTables(two, three);
  ASSERT_EQ(joined.size(), 6u);
  EXPECT_EQ(joined[0].word4, 1);
  EXPECT_EQ(joined[4].word4, 5);
  EXPECT_EQ(joined[5].matcher, nullptr);
  EXPECT_EQ(dynamicTranslateStr("abcdd", joined.data(), 0, false, 0), "AB34");  // the first table wins "a"
  const TranslateEntry* list[] = {three, two, three, nullptr};
  EXPECT_EQ(joinTranslateTableList(list).size(), 9u);
}

// A matcher that finds every "x", hands over a replacement and throws at
// the given call.
class ThrowingMatcher : public fTranslateMatcher {
 public:
  explicit ThrowingMatcher(int throwAt) : throwAt_(throwAt) {}
  TranslateMatch call(Text text, int32_t position, const TranslateEntry&) override {
    if (++calls_ == throwAt_) raise("XML", "ThrowingMatcher.call(); on purpose");
    size_t p = text.view().find('x', static_cast<size_t>(position));
    if (p == std::string_view::npos) return {};
    return {static_cast<int32_t>(p), 1, 3, Str("<x>")};
  }

 private:
  int calls_ = 0;
  int throwAt_;
};

class ThrowingAdder : public fTranslateAdder {
 public:
  void call(Text, int32_t, const TranslateEntry&, Str& output) override {
    output.append("!");
    raise("ERR", "ThrowingAdder.call(); on purpose");
  }
};

TEST_F(TranslateTest, ExceptionsPassAndLeakNothing) {
  for (int throwAt = 1; throwAt <= 4; ++throwAt) {
    ThrowingMatcher matcher(throwAt);
    TranslateEntry table[] = {{&matcher, nullptr, nullptr, 0, nullptr, nullptr},
                              {&sharedSimpleTranslateMatcher(), "y", nullptr, 0, "Y", nullptr},
                              {}};
    expectRaise([&] { dynamicTranslateStr("axbxcxy", table, 0, false, 0); }, "XML",
                "ThrowingMatcher.call(); on purpose");
  }
  ThrowingMatcher never(0);
  TranslateEntry ok[] = {{&never, nullptr, nullptr, 0, nullptr, nullptr}, {}};
  EXPECT_EQ(dynamicTranslateStr("axbx", ok, 0, false, 0), "a<x>b<x>");
  ThrowingAdder adder;
  TranslateEntry adding[] = {{&sharedSimpleTranslateMatcher(), "y", nullptr, 0, "Y", nullptr},
                             {&sharedFixedTranslateMatcher(), "a", &adder, 0, "!", nullptr},
                             {}};
  expectRaise([&] { dynamicTranslateStr("yyab", adding, 0, false, 0); }, "ERR", "ThrowingAdder.call(); on purpose");
}

// Matchers that break the engine's rules.
class FaultyMatcher : public fTranslateMatcher {
 public:
  enum Fault { kZeroLength, kBackwards, kBeyondEnd };
  explicit FaultyMatcher(Fault fault) : fault_(fault) {}
  TranslateMatch call(Text text, int32_t position, const TranslateEntry&) override {
    switch (fault_) {
      case kZeroLength:
        return {position, 0, 0, Str("")};
      case kBackwards:
        return {position > 0 ? position - 1 : 0, 1, 1, Str("z")};
      case kBeyondEnd:
        return {text.length() - 1, 2, 1, Str("z")};
    }
    return {};
  }

 private:
  Fault fault_;
};

// Runs f in a child process and expects it to finish within a few seconds
// with exit status 0 (a hang fails the test instead of stalling the run).
template <typename F>
void expectFinishes(F f) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(f() ? 0 : 1);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  ADD_FAILURE() << "the engine did not finish";
}

bool raises(const std::function<void()>& f, const char* code, const char* message) {
  try {
    f();
  } catch (const eException& e) {
    return e.code() == code && e.message() == message;
  }
  return false;
}

TEST_F(TranslateTest, ZeroLengthMatchesRaiseInsteadOfLooping) {
  expectFinishes([] {
    return raises([] { translate("abc", {"", "x"}); }, "BUG", "dynamicTranslateStr(); zero-length match");
  });
  expectFinishes([] {
    return raises([] { translate("abc", {"b", "B", "", "x"}); }, "BUG", "dynamicTranslateStr(); zero-length match");
  });
  expectFinishes([] {
    FaultyMatcher zero(FaultyMatcher::kZeroLength);
    TranslateEntry table[] = {{&zero, nullptr, nullptr, 0, nullptr, nullptr}, {}};
    return raises([&] { dynamicTranslateStr("abc", table, 0, false, 0); }, "BUG",
                  "dynamicTranslateStr(); zero-length match");
  });
  expectFinishes([] {
    FaultyMatcher back(FaultyMatcher::kBackwards);
    TranslateEntry table[] = {{&back, nullptr, nullptr, 0, nullptr, nullptr}, {}};
    return raises([&] { dynamicTranslateStr("abc", table, 0, false, 0); }, "BUG",
                  "dynamicTranslateStr(); next match is before current position (1)");
  });
  FaultyMatcher beyond(FaultyMatcher::kBeyondEnd);
  TranslateEntry table[] = {{&beyond, nullptr, nullptr, 0, nullptr, nullptr}, {}};
  expectRaise([&] { dynamicTranslateStr("abc", table, 0, false, 0); }, "BUG",
              "dynamicTranslateStr(); next match is before current position (2)");
}

TEST_F(TranslateTest, AgreesWithTheNaiveScanner) {
  std::mt19937 rng(20261207);
  auto randomText = [&](int maxLength, const char* alphabet) {
    std::string s(static_cast<size_t>(rng() % static_cast<unsigned>(maxLength + 1)), ' ');
    size_t n = std::strlen(alphabet);
    for (char& c : s) c = alphabet[rng() % n];
    return s;
  };
  for (int round = 0; round < 10000; ++round) {
    std::string text = randomText(40, "ab&;c");
    std::vector<std::string> dict;
    int pairs = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < pairs; ++i) {
      std::string from = randomText(3, "ab&;c");
      if (from.empty()) from = "a";
      dict.push_back(from);
      dict.push_back(randomText(4, "XYZ"));
    }
    std::vector<const char*> items;
    for (auto& d : dict) items.push_back(d.c_str());
    size_t start = text.empty() ? 0 : rng() % (text.size() + 1);
    bool changed;
    std::string want = naiveTranslate(text, dict, start, changed);
    Str got = translate(text, items, static_cast<int32_t>(text.size()), false, static_cast<int32_t>(start));
    ASSERT_EQ(got.str(), want) << "text " << text << " start " << start;
    if (changed) {
      ASSERT_EQ(got.capacity(), got.length());
    }
    Str nilIf = translate(text, items, static_cast<int32_t>(text.size()), true, static_cast<int32_t>(start));
    ASSERT_EQ(nilIf.isNil(), !changed);
  }
}

}  // namespace
}  // namespace bw

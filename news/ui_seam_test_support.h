// news/ui_seam_test_support.h - a scripted user interface for the news and
// social tests: it records every requester and report (title, text and
// parameters, with the text filled) and answers requesters and waits from
// queues. It installs itself for its lifetime.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "news/ui_seam.h"

namespace bw::testing_news {

class ScriptedText : public NewsGuiText {
 public:
  void setState(Text text) override {
    shown = std::string(text.view());
    history.push_back(shown);
  }
  Str state() const override { return Str(shown); }
  std::string shown;
  std::vector<std::string> history;
};

class ScriptedNewsUi : public NewsUi {
 public:
  struct Call {
    std::string title;
    std::string text;  // the format text
    std::string buttons;  // "" for a report
    RequesterParameters parameters;
    std::string filled() const { return fillFormatText(text, parameters); }
  };

  ScriptedNewsUi() { setNewsUi(this); }
  ~ScriptedNewsUi() override { setNewsUi(nullptr); }
  ScriptedNewsUi(const ScriptedNewsUi&) = delete;
  ScriptedNewsUi& operator=(const ScriptedNewsUi&) = delete;

  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t,
                        int32_t) override {
    calls.push_back({std::string(title.view()), std::string(text.view()), std::string(buttons.view()), parameters});
    if (answers.empty()) return 0;
    int32_t answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void report(Text title, Text text, const RequesterParameters& parameters) override {
    calls.push_back({std::string(title.view()), std::string(text.view()), "", parameters});
  }
  ChangedGuiItem checkForChangedGuiItem() override { return next(); }
  ChangedGuiItem waitForChangedGuiItem() override { return next(); }

  std::vector<Call> calls;
  std::deque<int32_t> answers;        // requester answers; empty: 0
  std::deque<ChangedGuiItem> events;  // wait answers; empty: nothing happened

 private:
  ChangedGuiItem next() {
    if (events.empty()) return {};
    ChangedGuiItem e = events.front();
    events.pop_front();
    return e;
  }
};

}  // namespace bw::testing_news

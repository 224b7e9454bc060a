// news/ui_seam_test_support.h - a scripted user interface for the news and
// social tests: it records every requester and report (title, text and
// parameters, with the text filled) and answers requesters and waits from
// queues. Windows built on the spot are kept as their gadgets; the live ones
// are listed. It installs itself for its lifetime.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
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

class ScriptedButton : public NewsGuiButton {
 public:
  void initImage(Text path) override { image = std::string(path.view()); }
  void setDisabled(bool flag) override { disabled = flag; }
  std::string image;
  bool disabled = false;
  int key = 0;  // a key button's key
};

class ScriptedNewsUi;

// A window built on the spot: its texts and buttons in order, its flags.
class ScriptedWindow : public NewsGuiBuiltWindow {
 public:
  ScriptedWindow(ScriptedNewsUi& ui, std::string windowTitle) : title(std::move(windowTitle)), ui_(ui) {}
  ~ScriptedWindow() override;
  void setBusy(bool flag) override { busy = flag; }
  bool infoCloseRequested(bool keep) override { return take(closeRequested, keep); }
  bool infoQuitRequested(bool keep) override { return take(quitRequested, keep); }
  int32_t infoWidth() const override { return 200; }
  int32_t infoHeight() const override { return 60; }
  void beginGroupVertical() override { ++groups; }
  NewsGuiText* addText(Text label) override {
    texts.push_back(std::make_unique<ScriptedText>());
    textLabels.emplace_back(label.view());
    return texts.back().get();
  }
  NewsGuiButton* addButton(Text label) override {
    buttons.push_back(std::make_unique<ScriptedButton>());
    buttonLabels.emplace_back(label.view());
    return buttons.back().get();
  }
  NewsGuiButton* addKeyButton(Text label, uint8_t key) override {
    addButton(label);
    buttons.back()->key = key;
    return buttons.back().get();
  }
  void addBar() override { ++bars; }
  void endGroup() override { --groups; }
  void build() override;
  void close() override;

  std::string title;
  std::vector<std::unique_ptr<ScriptedText>> texts;
  std::vector<std::string> textLabels;
  std::vector<std::unique_ptr<ScriptedButton>> buttons;
  std::vector<std::string> buttonLabels;
  int groups = 0;  // open groups
  int bars = 0;
  bool open = false;
  bool busy = false;
  bool closeRequested = false;
  bool quitRequested = false;

 private:
  static bool take(bool& flag, bool keep) {
    bool was = flag;
    if (!keep) flag = false;
    return was;
  }
  ScriptedNewsUi& ui_;
};

class ScriptedNewsUi : public NewsUi {
 public:
  struct Call {
    std::string title;
    std::string text;  // the format text
    std::string buttons;  // "" for a report
    RequesterParameters parameters;
    int32_t wrap1 = 0;  // the two size values
    int32_t wrap2 = 0;
    std::string filled() const { return fillFormatText(text, parameters); }
  };

  ScriptedNewsUi() { setNewsUi(this); }
  ~ScriptedNewsUi() override { setNewsUi(nullptr); }
  ScriptedNewsUi(const ScriptedNewsUi&) = delete;
  ScriptedNewsUi& operator=(const ScriptedNewsUi&) = delete;

  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t wrap1,
                        int32_t wrap2) override {
    calls.push_back(
        {std::string(title.view()), std::string(text.view()), std::string(buttons.view()), parameters, wrap1, wrap2});
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
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override {
    auto window = std::make_unique<ScriptedWindow>(*this, std::string(title.view()));
    windows.push_back(window.get());
    ++windowsMade;
    return window;
  }

  std::vector<Call> calls;
  std::deque<int32_t> answers;        // requester answers; empty: 0
  std::deque<ChangedGuiItem> events;  // wait answers; empty: nothing happened
  std::vector<ScriptedWindow*> windows;  // the live windows built on the spot
  int windowsMade = 0;
  // Runs when a window is built (it may queue events for that window), and
  // when it is closed.
  std::function<void(ScriptedWindow&)> onBuild;
  std::function<void(ScriptedWindow&)> onClose;

 private:
  ChangedGuiItem next() {
    if (events.empty()) return {};
    ChangedGuiItem e = events.front();
    events.pop_front();
    return e;
  }
};

inline ScriptedWindow::~ScriptedWindow() {
  auto& live = ui_.windows;
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

inline void ScriptedWindow::close() {
  open = false;
  if (ui_.onClose) ui_.onClose(*this);
}

inline void ScriptedWindow::build() {
  open = true;
  if (ui_.onBuild) ui_.onBuild(*this);
}

}  // namespace bw::testing_news

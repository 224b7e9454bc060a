// news/ui_seam.h - the one interface through which the news and social
// layers talk to the user: requesters, reports, the progress window record
// and the two GUI waits. The application installs the real one (console in
// shell mode, windows otherwise); tests install a scripted double
// (news/ui_seam_test_support.h).
//
// Invariants:
//   1. Texts handed to gui_requester and report are format texts: "%s" and
//      "%ld" take the parameters in order, "%%" gives "%". Text that came
//      from a document is never a format text: it goes in as a parameter, or
//      through doublePercent.
//   2. gui_requester answers the chosen button counting from 1, with 0 for
//      the last button ("Yes|No": 1 = Yes, 0 = No).
//   3. newsUi() raises "BUG" while no interface is installed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/format_text.h"
#include "core/str.h"

namespace bw {

// A gadget of a window; compared by identity with the changed item a wait
// answers.
class NewsGuiItem {
 public:
  virtual ~NewsGuiItem() = default;
};

// A text line: shows a copy of the text; state() answers the shown text.
class NewsGuiText : public NewsGuiItem {
 public:
  virtual void setState(Text text) = 0;
  virtual Str state() const = 0;
};

// A push button.
class NewsGuiButton : public NewsGuiItem {
 public:
  // Shows the picture file (a path, assigns allowed) on the button; a
  // missing file leaves the label.
  virtual void initImage(Text path) = 0;
  // A disabled button cannot be pressed.
  virtual void setDisabled(bool disabled) = 0;
};

// A page group: shows one of its pages.
class NewsGuiPageGroup : public NewsGuiItem {
 public:
  virtual void setState(int32_t page) = 0;
};

class NewsGuiWindow {
 public:
  virtual ~NewsGuiWindow() = default;
  // Puts the window to sleep (busy pointer, no input) or wakes it.
  virtual void setBusy(bool busy) = 0;
  // The window's close request and the application-wide quit request; the
  // argument FALSE clears the request after reading it.
  virtual bool infoCloseRequested(bool keep) = 0;
  virtual bool infoQuitRequested(bool keep) = 0;
  virtual int32_t infoWidth() const = 0;
  virtual int32_t infoHeight() const = 0;
};

// A window the news and social layers build on the spot (the sign-in
// waiting windows, the log-out window): one vertical group of gadgets, then build, which makes
// the gadgets and opens the window. Destroying it ends it: it is closed when
// open and removed from the application, and its gadgets go with it.
class NewsGuiBuiltWindow : public NewsGuiWindow {
 public:
  virtual void beginGroupVertical() = 0;
  // A text line with that label (usually ""); its shown text is set with
  // setState.
  virtual NewsGuiText* addText(Text label) = 0;
  virtual NewsGuiButton* addButton(Text label) = 0;
  // A button also pressed by the key (10: Return).
  virtual NewsGuiButton* addKeyButton(Text label, uint8_t key) = 0;
  // A dividing line.
  virtual void addBar() = 0;
  virtual void endGroup() = 0;
  virtual void build() = 0;
  virtual void close() = 0;
};

// The progress window record the application builds and the feed update and
// the parsers write into.
struct feedProgressGui {
  NewsGuiWindow* window = nullptr;
  NewsGuiText* feedText = nullptr;      // the feed's name
  NewsGuiText* stepText = nullptr;      // the current step
  NewsGuiText* progressText = nullptr;  // byte count, then the parse phases
  NewsGuiPageGroup* pauseResumePage = nullptr;  // page 0 Pause, page 1 Resume
  NewsGuiItem* pauseButton = nullptr;
  NewsGuiItem* resumeButton = nullptr;
  NewsGuiItem* cancelButton = nullptr;
};

// Progress texts are clipped at this many characters.
inline constexpr int32_t kProgressTextCapacity = 100;

// One event of a wait: the changed item (null for a window-level event such
// as a close request) and its window (null when nothing happened).
struct ChangedGuiItem {
  NewsGuiItem* item = nullptr;
  NewsGuiWindow* window = nullptr;
};

// A parameter of a format text: "%s" takes a text, "%ld" a number
// (core/format_text.h formats them).
using RequesterParameter = FormatArgument;
using RequesterParameters = FormatArguments;

class NewsUi {
 public:
  virtual ~NewsUi() = default;
  // A modal requester; buttons separated by "|". The news layer passes 0 for
  // both wrap values.
  virtual int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters,
                                int32_t wrap1, int32_t wrap2) = 0;
  // Tells the user something: a requester with "OK", or the filled text on
  // the console in shell mode.
  virtual void report(Text title, Text text, const RequesterParameters& parameters) = 0;
  // One poll that does not wait, and a wait for the next event.
  virtual ChangedGuiItem checkForChangedGuiItem() = 0;
  virtual ChangedGuiItem waitForChangedGuiItem() = 0;
  // A new window with that title, registered with the application. An
  // interface without windows (the console's) raises "BUG"
  // "NewsUi.CreateGuiWindow(); no windows here".
  virtual std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title);
};

// Installs the interface (null uninstalls); the caller keeps ownership.
void setNewsUi(NewsUi* ui);
NewsUi& newsUi();

// The text with every "%" doubled, so that it shows as it stands in a format
// text.
std::string doublePercent(std::string_view text);

// The format text with its conversions filled from the parameters in order
// (formatText), as the console shows it; MUI text codes stay.
std::string fillFormatText(std::string_view text, const RequesterParameters& parameters);

// Shows the text on the gui's progress line, clipped at
// kProgressTextCapacity; nothing without a gui.
void setProgressText(feedProgressGui* gui, std::string_view text);

}  // namespace bw

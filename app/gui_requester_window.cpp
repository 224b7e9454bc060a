// app/gui_requester_window.cpp - gui_requester on the GUI host.
#include "app/gui_requester_window.h"

#include <memory>
#include <string>
#include <vector>

#include "app/console_ui.h"
#include "core/exception.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_app_client.h"

namespace bw {
namespace {

constexpr std::string_view kHighlight = "\x1b" "1";

bool isControl(unsigned char c) { return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7f; }

std::vector<std::string> splitAt(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.emplace_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// Every "\e1" as "\e5": the text box's highlight.
std::string boxStyled(std::string text) {
  for (size_t at = text.find(kHighlight); at != std::string::npos; at = text.find(kHighlight, at + 2)) text[at + 1] = '5';
  return text;
}

struct WindowEnd {
  cGuiWindow* window;
  ~WindowEnd() { endGuiWindow(window); }
};

}  // namespace

std::string requesterWindowText(std::string_view text, const FormatArguments* arguments) {
  if (!arguments) return std::string(text);
  FormattedText formatted = formatTextMarked(text, arguments);
  std::string out;
  out.reserve(formatted.text.size());
  const std::string& t = formatted.text;
  for (size_t i = 0; i < t.size(); ++i) {
    if (!formatted.fromArgument[i]) {
      out += t[i];
    } else if (std::string_view(t).substr(i, 2) == kHighlight) {
      ++i;  // a highlight mark that came in an argument is no text
    } else {
      out += isControl(static_cast<unsigned char>(t[i])) ? '?' : t[i];
    }
  }
  return out;
}

int32_t requesterResultOf(int32_t index, int32_t count) {
  if (index == 0) return 1;
  return index == count - 1 ? 0 : index + 1;
}

int32_t guiRequesterWindow(Text title, std::string_view text, std::string_view buttons,
                           const FormatArguments* arguments, int32_t wrapWidth, int32_t wrapHeight) {
  const std::string formatted = requesterWindowText(text, arguments);
  if (wrapWidth != 0 && wrapHeight == 0) raise("EPU", "gui_requester(); wrapWidth given without wrapHeight");
  const std::vector<std::string> labels = splitAt(buttons, '|');
  const int32_t count = static_cast<int32_t>(labels.size());
  const int32_t closedResult = count == 1 ? 1 : 0;
  if (cGuiHost::Terminating()) {
    // The program is ending: nobody is there to answer.
    reportOnConsole(text, arguments);
    return closedResult;
  }

  cGuiWindow* window = cGuiHost::CreateGuiWindow(title);
  WindowEnd end{window};
  window->beginGroupVertical(nullptr);
  if (wrapWidth == 0) {
    for (const std::string& line : splitAt(formatted, '\n')) {
      if (line.starts_with(kHighlight)) {
        window->addLabel(std::string_view(line).substr(2))->initStylePen5();
      } else {
        window->addLabel(line.empty() ? std::string_view(" ") : std::string_view(line));
      }
    }
  } else {
    window->addTextBox("")->setState(boxStyled(formatted));
  }
  window->beginGroupHorizontal(nullptr);
  std::vector<cGuiItem*> items;
  for (int32_t i = 0; i < count; ++i) {
    items.push_back(i == 0 ? static_cast<cGuiItem*>(addKeyButton(window, labels[i], 10))
                           : static_cast<cGuiItem*>(window->addButton(labels[i])));
  }
  window->endGroup();
  window->endGroup();
  if (wrapWidth == 0) {
    window->build(false);
  } else {
    window->build(true);
    window->setSize(wrapWidth, wrapHeight);
    window->open();
  }

  for (;;) {
    const GuiChange change = cGuiHost::waitForChangedGuiItem();
    if (change.item) {
      if (change.window != window) continue;
      for (int32_t i = 0; i < count; ++i)
        if (items[i] == change.item) return requesterResultOf(i, count);
      continue;
    }
    if (change.window == window && window->infoCloseRequested(false)) return closedResult;
    if (change.window && window->infoQuitRequested(true)) return closedResult;
  }
}

}  // namespace bw

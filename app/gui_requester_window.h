// app/gui_requester_window.h - the requester as a window: the formatted text
// as labels (or a word-wrapping text box), a row of buttons, and a blocking
// wait until one is chosen or the window goes.
//
// Invariants:
//   1. The answer counts the buttons from 1, the last of several is 0; a
//      close request or the application's quit request answers 1 for one
//      button, else 0. The quit request is read and kept for the caller.
//   2. Events of other windows that arrive while it waits are dropped.
//   3. The window is ended before the call returns or raises.
//   4. Text from arguments is shown as it stands but for control bytes,
//      which show as "?", and highlight marks, which go: an argument never
//      styles the text and never shows a mark as characters.
//   5. Once a kill signal asked the program to end (cGuiHost::Terminating)
//      no requester opens: the text goes to the console and the answer is
//      the closed one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/format_text.h"
#include "core/str.h"

namespace bw {

// The button's answer: index 0 of n gives 1, the last of several 0, the
// others their position.
int32_t requesterResultOf(int32_t index, int32_t count);

// The text a requester window shows: the arguments filled in (their
// controls as "?", their highlight marks dropped); as it stands without.
std::string requesterWindowText(std::string_view text, const FormatArguments* arguments);

// The requester window on the GUI host. A wrap width without a wrap height
// raises "EPU".
int32_t guiRequesterWindow(Text title, std::string_view text, std::string_view buttons,
                           const FormatArguments* arguments, int32_t wrapWidth, int32_t wrapHeight);

}  // namespace bw

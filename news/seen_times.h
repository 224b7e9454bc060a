// news/seen_times.h - the seen-up-to times: the oldest one that "Show
// unseen" shows from, and the one-step "Undo seen".
//
// Invariants:
//   1. "now" is pTime::CurrentTime(0). The show limit is never later than
//      now - 2 days; when more than one feed counts, never earlier than
//      now - 366 days.
//   2. A feed counts when it is enabled and its seenUpToTime is a valid date
//      not later than its newestItemTime.
//   3. The feed list's entries carry their feed in a boxPTR; its selection,
//      when there is one, chooses the feeds considered, else every loaded
//      feed (root.firstLoadedFeed on).
//   4. previousSeenUpToTime holds one step of history: undoSeen restores it
//      and sets it unset, in one transaction.
#pragma once

#include "core/gui_list_selection.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// The "Undo seen" button as the news model sees it.
class UndoSeenButton {
 public:
  virtual ~UndoSeenButton() = default;
  virtual void setDisabled(bool disabled) = 0;
};

inline constexpr bigTime kShowAtLeastBack = 172800;     // 2 days
inline constexpr bigTime kShowAtMostBack = 31622400;    // 366 days

// Disables undoButton (when given) unless some loaded feed has a previous
// seen time; then, when force or the Show mode is not a fixed period, sets
// root.showLimitTime from the feeds that count (feedList may be NIL).
void updateOldestSeenTime(newsRoot& root, GuiListSelection* feedList, UndoSeenButton* undoButton, bool force);

// Gives every loaded feed with a previous seen time that time back (saving
// it), then updateOldestSeenTime without force.
void undoSeen(GuiListSelection* feedList, UndoSeenButton* undoButton, cJournaledIndexedObjectSoupDatabase& db,
              newsRoot& root);

}  // namespace bw

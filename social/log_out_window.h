// social/log_out_window.h - the "Log out" window, which forgets the Twitter
// or the Facebook sign-in kept in the root (for Facebook also logging the
// browser out of the web site), and the two Facebook pages through which
// the user asks friends to let the program read their posts.
//
// Invariants:
//   1. Each log-out is saved to the root at once, so closing the window or
//      quitting keeps it; its button is then disabled for the window's life.
//   2. Forgetting the Facebook tokens does not depend on the browser: they
//      go even when no browser could be started.
//   3. Every page opens in the user's browser (openURL); nothing here speaks
//      HTTP. Addresses are built from the service table with the ids as
//      they stand, nothing percent-encoded; no token is ever among a
//      browser's arguments.
#pragma once

#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Opens the Facebook log-out page (the browser's own session is logged
// out; the token is not sent); FALSE when no browser could be started.
bool openFacebookLogoutPage();
// The send and share dialogs that carry the permission-request page.
void facebookAskFriendViaSend();
void facebookAskFriendViaShare();

// Shows the window until the user finishes; TRUE when the application was
// asked to quit meanwhile.
bool showLogOutWindow(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root);

}  // namespace bw

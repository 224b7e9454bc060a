// social/log_out_window.cpp - the log-out window's loop and the Facebook
// page addresses.
#include "social/log_out_window.h"

#include <memory>
#include <string>

#include "news/ui_seam.h"
#include "platform/commands.h"
#include "social/service_config.h"

namespace bw {
namespace {

// One of the maker's pages under "/brindlework/".
std::string makerPage(const char* name) { return makerWebBase().str() + "/brindlework/" + name; }

}  // namespace

bool openFacebookLogoutPage() {
  // The browser's own session is what the page logs out; the token stays
  // out of the browser's arguments, where every local user could read it.
  const std::string url =
      facebookWebBase().str() + "/logout.php?confirm=1&next=" + makerPage("permission_logged_out.html");
  return openURL(Text(url));
}

void facebookAskFriendViaSend() {
  const std::string url = facebookWebBase().str() + "/dialog/send?app_id=" + facebookAppId().str() +
                          "&redirect_uri=" + makerPage("permission_request_sent.html") +
                          "&link=" + makerPage("permission_request6.html");
  openURL(Text(url));
}

void facebookAskFriendViaShare() {
  const std::string url = facebookWebBase().str() + "/dialog/share?app_id=" + facebookAppId().str() +
                          "&display=page&href=" + makerPage("permission_request6.html");
  openURL(Text(url));
}

bool showLogOutWindow(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) {
  std::unique_ptr<NewsGuiBuiltWindow> window = newsUi().CreateGuiWindow("Log out");
  window->beginGroupVertical();
  NewsGuiButton* facebook = window->addButton("Log out of Facebook (including the website)");
  facebook->initImage("PROGDIR:/FacebookLogo.png");
  facebook->setDisabled(root.facebookAccessToken.isNil());
  NewsGuiButton* twitter = window->addButton("Log out of Twitter");
  twitter->initImage("PROGDIR:/TwitterLogo.png");
  twitter->setDisabled(root.twitterToken.isNil());
  window->addBar();
  NewsGuiItem* finished = window->addKeyButton("Finished", 10);
  window->endGroup();
  window->build();

  bool quit = false;
  for (;;) {
    const ChangedGuiItem event = newsUi().waitForChangedGuiItem();
    if (event.window != window.get()) continue;
    if (!event.item) {
      if (window->infoCloseRequested(false)) break;
      if (window->infoQuitRequested(false)) {
        quit = true;
        break;
      }
    } else if (event.item == facebook) {
      // The tokens go whether or not a browser could be started.
      if (!root.facebookAccessToken.isNil()) openFacebookLogoutPage();
      root.facebookAccessToken = Str();
      root.facebookUserID = Str();
      soup.saveChangesToObject(&root);
      facebook->setDisabled(true);
    } else if (event.item == twitter) {
      root.twitterToken = Str();
      root.twitterTokenSecret = Str();
      soup.saveChangesToObject(&root);
      twitter->setDisabled(true);
    } else if (event.item == finished) {
      break;
    }
  }
  window->close();
  return quit;
}

}  // namespace bw

// news/short_links.cpp - expandShortenedURLs over non-blocking requests in one
// watcher, and isSameLink.
#include "news/short_links.h"

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/number_space.h"
#include "news/news_config.h"
#include "platform/clock.h"
#include "platform/dos_env.h"
#include "web/http.h"
#include "web/http_watcher.h"
#include "web/url.h"

namespace bw {
namespace {

// The scheme of an absolute reference ("javascript:x" has one, "/a:b" has
// none), empty when the text starts without one.
std::string_view schemeOf(std::string_view url) {
  if (url.empty() || !((url[0] >= 'a' && url[0] <= 'z') || (url[0] >= 'A' && url[0] <= 'Z'))) return {};
  for (size_t i = 1; i < url.size(); ++i) {
    const char c = url[i];
    if (c == ':') return url.substr(0, i);
    const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                            c == '+' || c == '-' || c == '.';
    if (!schemeChar) break;
  }
  return {};
}

// What a Location makes of the short link: an http or https address, or NIL
// (the link stays). A relative Location is resolved against the short link
// as the request that follows it is (RFC 3986), so "/go?u=http://x/" is a
// path with a query, not an address.
Str locationTarget(const Str& location, const Str& shortLink) {
  Str target = resolveReference(shortLink, location);
  if (target.isNil()) return target;
  const std::string_view scheme = schemeOf(target.view());
  if (!equalsNoCase(scheme, "http") && !equalsNoCase(scheme, "https")) return Str();
  return target;
}

class Expander {
 public:
  Expander(cJournaledIndexedObjectSoupDatabase* soup, const ShortLinkHooks& hooks) : soup_(soup), hooks_(hooks) {}
  ~Expander() {
    for (Slot& s : slots_) {
      if (s.http) watcher_.remove(s.http.get(), true);
    }
  }
  Expander(const Expander&) = delete;
  Expander& operator=(const Expander&) = delete;

  // One pass over list; requests that could not be sent go to retry (first
  // pass only).
  void pass(const std::vector<newsItem*>& list, bool retryPass, std::vector<newsItem*>* retry) {
    const int32_t limit = retryPass ? 1 : kShortLinkRequests;
    size_t next = 0;
    while (next < list.size() || active_ > 0) {
      if (next < list.size() && active_ < limit) {
        newsItem* item = list[next++];
        if (!item) raise("BUG", "expandShortenedURLs(); cursor itemNode=NIL");
        if (isShortLink(item->link)) start(item);
        continue;
      }
      cHTTP* ready = watcher_.isReady(1000);
      endOverdue(retryPass ? nullptr : retry, ready);
      if (ready) serve(ready, retryPass ? nullptr : retry);
    }
  }

 private:
  struct Slot {
    std::unique_ptr<cHTTP> http;
    int32_t state = 0;  // 0 free, 1 connecting, 2 sent, 3 redirect status read, 4 other status
    int64_t deadline = 0;
  };

  void start(newsItem* item) {
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
      if (s.state == 0) {
        slot = &s;
        break;
      }
    }
    if (!slot) raise("BUG", "expandShortenedURLs(); no free space found in http array");
    slot->http = std::make_unique<cHTTP>(nullptr);
    slot->state = 1;
    if (slot->http->openURL(item->link, nullptr, nullptr, nullptr, kShortLinkTimeoutSeconds, true, nullptr, false)
            .result != 0) {
      slot->http.reset();
      slot->state = 0;
      return;
    }
    slot->deadline = readUtcSeconds() + kShortLinkTimeoutSeconds;
    ++active_;
    watcher_.add(slot->http.get(), false);
    map_.set(reinterpret_cast<intptr_t>(slot->http.get()), item);
  }

  Slot& slotOf(cHTTP* http) {
    for (Slot& s : slots_) {
      if (s.http.get() == http) return s;
    }
    raise("BUG", "expandShortenedURLs(); http not found in array");
  }

  newsItem* itemOf(cHTTP* http) {
    class_base* item = map_.get(reinterpret_cast<intptr_t>(http));
    if (!item) raise("BUG", "expandShortenedURLs(); httpToNewsItem itemNode=NIL");
    return static_cast<newsItem*>(item);
  }

  void serve(cHTTP* http, std::vector<newsItem*>* retry) {
    Slot& slot = slotOf(http);
    newsItem* item = itemOf(http);
    if (slot.state == 1) {
      if (http->sendRequest() == 0) {
        slot.state = 2;
        return;
      }
      if (retry) retry->push_back(item);
    } else if (slot.state >= 2) {
      // The answer is read as it comes: a shortener that sends part of it
      // and stalls holds its own slot only, until its deadline.
      if (slot.state == 2) {
        std::optional<cHTTP::Status> status = http->pollStatus();
        if (!status) return;
        slot.state = status->redirect ? 3 : 4;
      }
      if (slot.state == 3) {
        std::optional<cHTTP::Redirect> redirect = http->pollRedirect(1500);
        if (!redirect) return;
        if (!redirect->location.isNil()) takeLocation(item, redirect->location);
      }
      http->close();
    } else {
      raise("BUG", "expandShortenedURLs(); unknown httpState");
    }
    end(slot);
  }

  // A request whose deadline passed on the clock ends like one that could
  // not be sent; a shortener that accepts and never answers cannot hold the
  // call.
  void endOverdue(std::vector<newsItem*>* retry, cHTTP*& ready) {
    const int64_t now = readUtcSeconds();
    for (Slot& s : slots_) {
      if (s.state == 0 || now < s.deadline) continue;
      if (s.http.get() == ready) ready = nullptr;
      if (retry) retry->push_back(itemOf(s.http.get()));
      end(s);
    }
  }

  void takeLocation(newsItem* item, const Str& location) {
    Str target = locationTarget(location, item->link);
    if (target.isNil()) return;
    if (item->statedLink.isNil()) item->statedLink = std::move(item->link);
    item->link = std::move(target);
    if (soup_) soup_->saveChangesToObject(item);
  }

  void end(Slot& slot) {
    --active_;
    watcher_.remove(slot.http.get(), false);
    map_.remove(reinterpret_cast<intptr_t>(slot.http.get()));
    slot.http.reset();
    slot.state = 0;
  }

  cJournaledIndexedObjectSoupDatabase* soup_;
  const ShortLinkHooks& hooks_;
  std::array<Slot, kShortLinkRequests> slots_;
  cHTTPwatcher watcher_;
  cNumberSpace_cnumberspace map_{false};
  int32_t active_ = 0;
};

}  // namespace

std::vector<newsItem*> newsItemsOf(cMegaList_class& items) {
  std::vector<newsItem*> out;
  if (items.isEmpty()) return out;
  auto cursor = items.infoStart()->clone(0, 0);
  for (bool end = false; !end; end = cursor->gotoNext()) {
    out.push_back(static_cast<newsItem*>(static_cast<cMegaCursor_class*>(cursor.get())->getData()));
  }
  return out;
}

bool isShortLink(Text link) {
  if (link.isNil()) return false;
  // Without "://" there is no host.
  const Str host = splitURL(link, kURLHost, nullptr).host;
  if (host.isNil() || host.empty()) return false;
  if (host.length() <= 7 && link.nulView().size() <= 32) return true;
  return equalsNoCase(host.view(), newsConfig::kShortenerHost);
}

namespace {
ShortLinkHooks gDefaultHooks;
}  // namespace

void setDefaultShortLinkHooks(ShortLinkHooks hooks) { gDefaultHooks = std::move(hooks); }

void expandShortenedURLs(cMegaList_class& items, cJournaledIndexedObjectSoupDatabase* soup) {
  expandShortenedURLs(items, soup, gDefaultHooks);
}

namespace {

void expandLinksOf(const std::vector<newsItem*>& list, cJournaledIndexedObjectSoupDatabase* soup,
                   const ShortLinkHooks& hooks) {
  if (list.empty() || hooks.offline) return;
  const int32_t transaction = soup ? soup->beginTransaction() : 0;
  {
    Expander expander(soup, hooks);
    std::vector<newsItem*> retry;
    expander.pass(list, false, &retry);
    if (!retry.empty()) {
      if (hooks.sleep) {
        hooks.sleep(kShortLinkRetryTicks);
      } else {
        dos::delay(kShortLinkRetryTicks);
      }
      expander.pass(retry, true, nullptr);
    }
  }
  if (soup) soup->finishTransaction(transaction);
}

}  // namespace

void expandShortenedURLs(cMegaList_class& items, cJournaledIndexedObjectSoupDatabase* soup,
                         const ShortLinkHooks& hooks) {
  if (items.isEmpty() || hooks.offline) return;
  expandLinksOf(newsItemsOf(items), soup, hooks);
}

void expandShortenedURLs(const std::vector<newsItem*>& items, cJournaledIndexedObjectSoupDatabase* soup) {
  expandLinksOf(items, soup, gDefaultHooks);
}

bool isSameLink(const newsFeed& feed, Text link, Text otherLink) {
  std::string_view a = link.nulView(), b = otherLink.nulView();
  if (equalsNoCase(a, b)) {
    size_t scheme = a.find("://");
    if (scheme == std::string_view::npos) return true;
    size_t slash = a.find('/', scheme + 3);
    if (slash == std::string_view::npos) return false;
    std::string_view rest = a.substr(slash + 1);
    return !(rest.empty() || rest == "#");
  }
  if (startsWithNoCase(a, newsConfig::kFacebookHome)) return true;
  return !feed.notUpdates;
}

}  // namespace bw

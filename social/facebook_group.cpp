// social/facebook_group.cpp - the group search, the confirmation, the
// privacy refusal and the existence check.
#include "social/facebook_group.h"

#include <algorithm>
#include <string>

#include "core/ascii_case.h"
#include "news/news_config.h"
#include "social/facebook_address.h"
#include "social/json_members.h"
#include "social/twitter_records.h"
#include "web/url.h"

namespace bw {
namespace {

constexpr char kSafe[] = "_.-~";
constexpr char kGroupFields[] = "?fields=name,id,privacy,description,owner";
constexpr int32_t kStatusNotFound = 404;

// The answer of one plain Graph call, NIL with the kind and status.
FacebookAnswer ask(downloadFacebook& downloader, const std::string& path) {
  FacebookOpenResult opened = downloader.openApiCopy(Text(path), nullptr, false);
  if (opened.failed != 0) return {nullptr, opened.failed, 0};
  return downloader.downloadNow(false);
}

bool isDecimal(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isPlainId(const Str& id) {
  return id && !id.empty() && std::all_of(id.view().begin(), id.view().end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

Str textOr(const webDataNode* node, Text name, const char* fallback) {
  Str text = twitterMemberText(node, name, false);
  return text ? text : Str(fallback);
}

// Asks whether this is the group wanted; TRUE for "Yes".
bool confirmGroup(const webDataNode* entry, NewsGuiWindow* window) {
  const Str name = textOr(entry, "name", "unknown");
  const Str description = textOr(entry, "description", "");
  const Str owner = twitterMemberText(jsonMember(entry, "owner"), "name", false);
  RequesterParameters p{name.str()};
  if (owner) {
    p.insert(p.end(), {std::string("(Facebook group owned by "), owner.str(), std::string(")\n")});
  } else {
    p.insert(p.end(), {std::string(), std::string(), std::string()});
  }
  p.push_back(description.str());
  const int32_t width = std::max(window ? window->infoWidth() / 2 : 0, kGroupRequesterWidth);
  const int32_t height = std::max(window ? window->infoHeight() / 2 : 0, kGroupRequesterHeight);
  return newsUi().gui_requester(Text(newsConfig::kProgramName), "Is this the Group that you wanted:\n\n\x1b" "1%s\n%s%s%s%s",
                                "Yes|No", p, width, height) == 1;
}

}  // namespace

FacebookGroupFound findFacebookGroup(Text url, NewsGuiWindow* window, downloadFacebook* downloader) {
  const FacebookAddress address = facebookAddressName(url);
  if (!address.name) return {};
  if (!address.isGroup) {
    if (!downloader) return {address.name, false};
  } else if (!downloader) {
    return {isDecimal(address.name.view()) ? address.name : Str(""), true};
  }

  Str id;
  Str privacy;
  Str name;
  if (!address.isGroup) {
    id = address.name;
  } else if (!isDecimal(address.name.view())) {
    const Str query = encodeRawURL(address.name, kSafe, false);
    FacebookAnswer found = ask(*downloader, "search" + std::string(kGroupFields) + "&q=" + query.str() + "&type=group");
    if (found.kind == kFeedAuthFailed) return {Str(), true, kFeedAuthFailed};
    if (!found.document || !found.document->head()) return {};
    const webDataNode* data = jsonMember(found.document->head(), "data");
    for (const webDataNode* entry = data ? data->getFirstChild() : nullptr; entry; entry = entry->getNext()) {
      Str entryID = twitterMemberText(entry, "id", true);
      if (!isPlainId(entryID) || !confirmGroup(entry, window)) continue;
      id = std::move(entryID);
      privacy = twitterMemberText(entry, "privacy", false);
      name = textOr(entry, "name", "unknown");
      break;
    }
  } else {
    id = address.name;
    FacebookAnswer group = ask(*downloader, encodeRawURL(address.name, kSafe, false).str() + kGroupFields);
    if (group.kind == kFeedAuthFailed) return {Str(), true, kFeedAuthFailed};
    const webDataNode* top = group.document ? group.document->head() : nullptr;
    privacy = twitterMemberText(top, "privacy", false);
    name = textOr(top, "name", "unknown");
  }

  if (id && privacy && equalsNoCase(privacy.view(), "CLOSED")) {
    newsUi().gui_requester(Text(newsConfig::kProgramName),
                           "Sorry but \"%s\" is not a Public group,\nso Facebook does not allow apps to read any "
                           "posts made to it.",
                           "OK", {name.str()}, 0, 0);
    return {};
  }
  if (id) {
    FacebookAnswer exists = ask(*downloader, id.str());
    // A sign-in the user gave up ends the lookup: going on would only start
    // the next one.
    if (exists.kind == kFeedAuthFailed) return {Str(), address.isGroup, kFeedAuthFailed};
    if (!exists.document && exists.status == kStatusNotFound) return {};
    const webDataNode* top = exists.document ? exists.document->head() : nullptr;
    if (exists.document && !jsonMember(top, "name")) return {};
  }
  return {std::move(id), address.isGroup};
}

}  // namespace bw

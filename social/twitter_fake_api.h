// social/twitter_fake_api.h - a stand-in for the Twitter REST API 1.1 on a
// loopback thread (plain http): the user timeline paged by since_id,
// max_id and count, users/show, the rate-limit status and the three
// sign-in endpoints. Every request is recorded and its OAuth signature
// checked by the test verifier; a request that fails the check or carries
// an unknown token gets 401. JSON is written as the service wrote it: "/"
// as "\/", "&" in texts as "&amp;". Used by the social tests and by
// tools/fakesocial (no test framework here).
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "social/fake_service_test_support.h"
#include "social/oauth_verifier_test_support.h"

namespace bw::test {

// "\/" for "/", "&amp;" for "&", and the JSON escapes of quote and
// backslash.
inline std::string twitterEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '/') {
      out += "\\/";
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

struct FakeTweet {
  int64_t id = 0;
  std::string text;
  std::string createdAt = "Wed Aug 27 13:08:45 +0000 2008";
  std::string link;  // entities.urls[0].expanded_url, none when empty
};

inline std::string tweetJson(const FakeTweet& t, bool withIdStr = true) {
  std::string json = "{\"created_at\":\"" + t.createdAt + "\",\"id\":" + std::to_string(t.id);
  if (withIdStr) json += ",\"id_str\":\"" + std::to_string(t.id) + "\"";
  json += ",\"full_text\":\"" + twitterEscape(t.text) + "\",\"entities\":{\"urls\":[";
  if (!t.link.empty()) json += "{\"expanded_url\":\"" + twitterEscape(t.link) + "\"}";
  return json + "]}}";
}

class FakeTwitterApi {
 public:
  struct Settings {
    std::string consumerSecret;
    std::string screenName = "SomeUser";
    std::string userID = "12345";
    std::string name = "Some User";
    size_t pageSize = 200;          // the most a page holds, whatever count asks
    int32_t remainingStatuses = 180;
    int32_t remainingUsers = 900;   // < 0: no "users" group in the answer
    bool plainSlashes = false;      // rate-limit member names with "/"
    bool ignoreMaxID = false;
    bool withoutIdStr = false;
  };

  explicit FakeTwitterApi(Settings settings) : s_(std::move(settings)) {}
  FakeTwitterApi(const FakeTwitterApi&) = delete;
  FakeTwitterApi& operator=(const FakeTwitterApi&) = delete;

  std::string origin() const { return service_.origin(); }
  // A token pair the service accepts.
  void acceptToken(const std::string& token, const std::string& secret) {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens_[token] = secret;
  }
  void revokeTokens() {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens_.clear();
  }
  // The tweets of the timeline, any order (pages are served newest first).
  void setTweets(std::vector<FakeTweet> tweets) {
    std::lock_guard<std::mutex> lock(mutex_);
    tweets_ = std::move(tweets);
  }
  // The next answers of a route ("timeline", "users", "rate"): a status
  // (200 serves the route normally) or a raw body with 200.
  void script(const std::string& route, int status, std::string body = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    scripted_[route].push_back({status, std::move(body)});
  }
  Settings& settings() { return s_; }
  // Every request as received, in order.
  std::vector<std::string> requests() { return service_.requests(); }
  // The targets ("/1.1/users/show.json?...") of the requests of a path.
  std::vector<std::string> targets(const std::string& path) {
    std::vector<std::string> out;
    for (const std::string& r : requests()) {
      std::string target = requestTarget(r);
      if (target.compare(0, path.size(), path) == 0) out.push_back(target);
    }
    return out;
  }
  // The sign-in issues this pair when the browser comes back.
  std::pair<std::string, std::string> issuedToken{"signedInToken", "signedInSecret"};

 private:
  struct Scripted {
    int status;
    std::string body;
  };
  static std::string answer(int status, const std::string& body, const std::string& headers = "") {
    return jsonAnswer(status, body, headers);
  }
  static std::string param(const std::string& target, const std::string& key) {
    size_t q = target.find('?');
    if (q == std::string::npos) return "";
    for (size_t at = q + 1; at < target.size();) {
      size_t end = target.find('&', at);
      if (end == std::string::npos) end = target.size();
      std::string pair = target.substr(at, end - at);
      if (pair.compare(0, key.size() + 1, key + "=") == 0) return formDecode(pair.substr(key.size() + 1));
      at = end + 1;
    }
    return "";
  }

  // Under the mutex.
  std::string serve(const std::string& request) {
    const std::string target = requestTarget(request);
    const std::string path = target.substr(0, target.find('?'));
    SignedRequest signedRequest = signedRequestFromWire(request, origin());
    if (path == "/oauth/request_token") return requestToken(signedRequest);
    if (path == "/oauth/authorize") return authorize(target);
    if (path == "/oauth/access_token") return accessToken(signedRequest);

    const std::string route = path == "/1.1/statuses/user_timeline.json" ? "timeline"
                              : path == "/1.1/users/show.json"           ? "users"
                              : path == "/1.1/application/rate_limit_status.json" ? "rate"
                                                                                  : "";
    if (route.empty()) return answer(404, "{}");
    // The token must be one the service issued, and the signature right.
    OauthVerdict peek = verifyOauthRequest(signedRequest, s_.consumerSecret, "");
    auto token = tokens_.find(peek.get("oauth_token"));
    if (token == tokens_.end()) return answer(401, "{\"errors\":[{\"code\":89}]}");
    if (!verifyOauthRequest(signedRequest, s_.consumerSecret, token->second).mismatch.empty()) {
      return answer(401, "{\"errors\":[{\"code\":32}]}");
    }
    auto queue = scripted_.find(route);
    if (queue != scripted_.end() && !queue->second.empty()) {
      Scripted next = queue->second.front();
      queue->second.pop_front();
      if (next.status != 200 || !next.body.empty()) return answer(next.status, next.body);
    }
    if (route == "timeline") return answer(200, timeline(target));
    if (route == "users") return answer(200, profile());
    return answer(200, rateLimit());
  }

  std::string timeline(const std::string& target) {
    const std::string since = param(target, "since_id"), max = param(target, "max_id");
    size_t count = static_cast<size_t>(std::strtoull(param(target, "count").c_str(), nullptr, 10));
    std::vector<FakeTweet> sorted = tweets_;
    std::sort(sorted.begin(), sorted.end(), [](const FakeTweet& a, const FakeTweet& b) { return a.id > b.id; });
    std::string json = "[";
    size_t served = 0;
    for (const FakeTweet& t : sorted) {
      if (!since.empty() && t.id <= std::strtoll(since.c_str(), nullptr, 10)) continue;
      if (!max.empty() && !s_.ignoreMaxID && t.id > std::strtoll(max.c_str(), nullptr, 10)) continue;
      if (served == std::min(count, s_.pageSize)) break;
      json += (served++ ? "," : "") + tweetJson(t, !s_.withoutIdStr);
    }
    return json + "]";
  }
  std::string profile() const {
    return "{\"id\":" + s_.userID + ",\"id_str\":\"" + s_.userID + "\",\"name\":\"" + twitterEscape(s_.name) +
           "\",\"screen_name\":\"" + s_.screenName +
           "\",\"profile_image_url\":\"http:\\/\\/pbs.example.com\\/p.png\",\"lang\":\"en\",\"description\":\"Tweets &amp; more\"}";
  }
  std::string rateLimit() const {
    const std::string slash = s_.plainSlashes ? "/" : "\\/";
    std::string json = "{\"resources\":{\"statuses\":{\"" + slash + "statuses" + slash +
                       "user_timeline\":{\"limit\":900,\"remaining\":" + std::to_string(s_.remainingStatuses) + "}}";
    if (s_.remainingUsers >= 0) {
      json += ",\"users\":{\"" + slash + "users" + slash + "show" + slash + ":id\":{\"limit\":900,\"remaining\":" +
              std::to_string(s_.remainingUsers) + "}}";
    }
    return json + "}}";
  }

  std::string requestToken(const SignedRequest& r) {
    OauthVerdict v = verifyOauthRequest(r, s_.consumerSecret, "");
    if (!v.mismatch.empty()) return answer(401, "");
    callback_ = v.get("oauth_callback");
    return answer(200, "oauth_token=requestToken&oauth_token_secret=requestSecret&oauth_callback_confirmed=true");
  }
  std::string authorize(const std::string& target) {
    if (param(target, "oauth_token") != "requestToken" || callback_.empty()) return answer(400, "");
    const std::string to = callback_ + (callback_.find('?') == std::string::npos ? "?" : "&") +
                           "oauth_token=requestToken&oauth_verifier=verifier";
    return answer(302, "", "Location: " + to + "\r\n");
  }
  std::string accessToken(const SignedRequest& r) {
    OauthVerdict v = verifyOauthRequest(r, s_.consumerSecret, "requestSecret");
    if (!v.mismatch.empty() || v.get("oauth_verifier") != "verifier") return answer(401, "");
    tokens_[issuedToken.first] = issuedToken.second;
    return answer(200, "oauth_token=" + issuedToken.first + "&oauth_token_secret=" + issuedToken.second);
  }

  Settings s_;
  std::mutex mutex_;
  std::map<std::string, std::string> tokens_;
  std::vector<FakeTweet> tweets_;
  std::map<std::string, std::deque<Scripted>> scripted_;
  std::string callback_;
  FakeService service_{[this](const std::string& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    return serve(request);
  }};
};

}  // namespace bw::test

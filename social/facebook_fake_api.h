// social/facebook_fake_api.h - a stand-in for the Graph API "v2.8" and the
// Facebook web site on a loopback thread (plain http): "me", the friends,
// timeline pages, account records, paging links on its own base, the group
// search, group and object records; the sign-in dialog redirects straight
// back to the callback with a token it then accepts, and the log-out page
// answers. Every request is recorded; a token it did not issue is refused
// with status 400, or with 200 and {"error":{"code":190}}. Scripted bodies
// may name the fake's own base as "{base}". Used by the social tests and by
// tools/fakesocial (no test framework here).
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "social/fake_service_test_support.h"

namespace bw::test {

class FakeGraphApi {
 public:
  struct Settings {
    std::string ownID = "1000";
    bool refuseWith190 = false;  // else status 400
    std::string issuedToken = "signedInToken";  // what the sign-in dialog gives
    bool tokenInFragment = false;  // as the real dialog does (a browser with scripts)
  };

  FakeGraphApi() : FakeGraphApi(Settings()) {}
  explicit FakeGraphApi(Settings settings) : s_(std::move(settings)) {}
  FakeGraphApi(const FakeGraphApi&) = delete;
  FakeGraphApi& operator=(const FakeGraphApi&) = delete;

  std::string origin() const { return service_.origin(); }
  Settings& settings() { return s_; }
  void acceptToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens_.insert(token);
  }
  // The posts (JSON objects) of every timeline page that is not scripted.
  void setPosts(std::vector<std::string> posts) {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_ = std::move(posts);
  }
  // The next answers of a route ("me", "friends", "timeline", "info",
  // "link", "search", "group", "object"): a status with a body ("" with 200
  // serves the route normally).
  void script(const std::string& route, int status, std::string body = "") {
    std::lock_guard<std::mutex> lock(mutex_);
    scripted_[route].push_back({status, std::move(body)});
  }
  // The targets of the requests, in order ("/v2.8/me?access_token=T").
  std::vector<std::string> targets() {
    std::vector<std::string> out;
    for (const std::string& r : service_.requests()) out.push_back(requestTarget(r));
    return out;
  }

 private:
  struct Scripted {
    int status;
    std::string body;
  };
  static std::string answer(int status, const std::string& body) { return jsonAnswer(status, body); }
  static std::string param(const std::string& target, const std::string& key) {
    const size_t at = target.find(key + "=", target.find('?'));
    if (at == std::string::npos || target.find('?') == std::string::npos) return "";
    const size_t from = at + key.size() + 1;
    return target.substr(from, target.find('&', from) - from);
  }
  static std::string routeOf(const std::string& path, const std::string& target) {
    if (path == "/v2.8/me") return "me";
    if (path == "/v2.8/me/friends") return "friends";
    if (path == "/v2.8/search") return "search";
    if (path.starts_with("/page/")) return "link";
    if (path.ends_with("/feed/") || path.ends_with("/posts/")) return "timeline";
    if (!path.starts_with("/v2.8/")) return "";
    if (target.find("?fields=id,name,link") != std::string::npos) return "info";
    if (target.find("?fields=name,id,privacy") != std::string::npos) return "group";
    if (path.find('/', 6) == std::string::npos) return "object";
    return "";
  }
  // The sign-in dialog: straight back to the redirect address, with the
  // token and the state sent in the fragment as the service gives them, or
  // in the query as the landing page forwards them.
  std::string dialog(const std::string& target) {
    const std::string redirect = param(target, "redirect_uri");
    if (redirect.empty()) return answer(400, "{}");
    const std::string back = redirect + (s_.tokenInFragment ? "#" : "?") + "access_token=" + s_.issuedToken +
                             "&state=" + param(target, "state");
    tokens_.insert(s_.issuedToken);
    return "HTTP/1.0 302 X\r\nLocation: " + back + "\r\n\r\n";
  }

  // Under the mutex.
  std::string serve(const std::string& request) {
    const std::string target = requestTarget(request);
    const std::string path = target.substr(0, target.find('?'));
    if (path == "/v2.8/dialog/oauth") return dialog(target);
    if (path == "/logout.php") return answer(200, "{}");
    const std::string route = routeOf(path, target);
    if (route.empty()) return answer(404, "{}");
    if (!tokens_.count(param(target, "access_token"))) {
      return s_.refuseWith190 ? answer(200, R"({"error":{"code":190,"message":"token"}})") : answer(400, "{}");
    }
    auto queue = scripted_.find(route);
    if (queue != scripted_.end() && !queue->second.empty()) {
      Scripted next = queue->second.front();
      queue->second.pop_front();
      if (next.status != 200 || !next.body.empty()) return answer(next.status, withBase(next.body));
    }
    if (route == "me") return answer(200, R"({"id":")" + s_.ownID + R"(","name":"Me"})");
    if (route == "friends") return answer(200, R"({"data":[{"id":"1","name":"Ann"},{"id":"2","name":"Bo"}]})");
    if (route == "info") {
      const std::string id = path.substr(6, path.size() - 7);
      return answer(200, R"({"id":")" + id + R"(","name":"Some Page","link":"https:\/\/www.facebook.com\/SomePage"})");
    }
    if (route == "search") return answer(200, R"({"data":[]})");
    if (route == "group" || route == "object") {
      const std::string id = path.substr(6);
      return answer(200, R"({"id":")" + id + R"(","name":"Some Group )" + id + R"(","privacy":"OPEN"})");
    }
    std::string json = R"({"data":[)";
    for (size_t i = 0; i < posts_.size(); ++i) json += (i ? "," : "") + posts_[i];
    return answer(200, json + "]}");
  }
  std::string withBase(std::string body) const {
    for (size_t at; (at = body.find("{base}")) != std::string::npos;) body.replace(at, 6, origin());
    return body;
  }

  Settings s_;
  std::mutex mutex_;
  std::set<std::string> tokens_;
  std::vector<std::string> posts_;
  std::map<std::string, std::deque<Scripted>> scripted_;
  FakeService service_{[this](const std::string& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    return serve(request);
  }};
};

}  // namespace bw::test

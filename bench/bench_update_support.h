// bench/bench_update_support.h - what the update benchmarks share: a corpus
// of feeds (two thirds RSS 2.0 with content:encoded, one third Atom, 50
// items each) written into a scratch folder, nginx serving it on 127.0.0.1
// with a private configuration, a database seeded with the feeds, and
// children run with their wall time, user CPU and own peak RSS
// (bench/child_run.h).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_run.h"
#include "core/module_registry.h"
#include "database/journal_file.h"
#include "database/soup_block_file.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"
#include "platform/clock.h"
#include "platform/dos_env.h"

extern char** environ;

namespace bw::bench {

namespace fs = std::filesystem;

inline constexpr const char* kNewsboat = "/usr/bin/newsboat";
inline constexpr const char* kNginx = "/usr/sbin/nginx";

inline constexpr int kItems = 50;


// About 2 KB of words for one item's text, different for every item.
inline std::string itemText(int feed, int item) {
  static const char* const words[] = {"reader", "feed",    "update", "archive", "morning", "report", "market",
                                      "river",  "council", "result", "season",  "letter",  "garden", "signal"};
  uint32_t seed = static_cast<uint32_t>(feed) * 7919u + static_cast<uint32_t>(item) * 104729u + 1u;
  std::string text = "<p>";
  while (text.size() < 2000) {
    seed = seed * 1664525u + 1013904223u;
    text += words[(seed >> 16) % std::size(words)];
    text += (seed & 0x3f) == 0 ? ".</p><p>" : " ";
  }
  return text + "</p>";
}

inline std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// Feed f: items newest first, an hour apart; every third feed is Atom.
inline std::string feedDocument(int f, bool atom) {
  const std::string base = "http://bench.example/" + std::to_string(f) + "/";
  std::string doc;
  if (atom) {
    doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Feed " +
          std::to_string(f) + "</title><id>urn:feed:" + std::to_string(f) + "</id><updated>2026-06-03T10:00:00Z</updated>";
  } else {
    doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
          "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\"><channel><title>Feed " +
          std::to_string(f) + "</title><link>" + base + "</link><description>Feed " + std::to_string(f) +
          "</description>";
  }
  for (int i = kItems; i >= 1; --i) {
    const std::string link = base + std::to_string(i);
    const int day = 1 + i / 24, hour = i % 24;
    if (atom) {
      doc += "<entry><id>" + link + "</id><title>Item " + std::to_string(i) + " of feed " + std::to_string(f) +
             "</title><link href=\"" + link + "\"/><updated>2026-06-" + twoDigits(day) + "T" + twoDigits(hour) +
             ":00:00Z</updated><content type=\"html\"><![CDATA[" + itemText(f, i) + "]]></content></entry>";
    } else {
      doc += "<item><title>Item " + std::to_string(i) + " of feed " + std::to_string(f) + "</title><link>" + link +
             "</link><guid>" + link + "</guid><pubDate>Mon, " + twoDigits(day) + " Jun 2026 " + twoDigits(hour) +
             ":00:00 GMT</pubDate><content:encoded><![CDATA[" + itemText(f, i) + "]]></content:encoded></item>";
    }
  }
  return doc + (atom ? "</feed>" : "</channel></rss>");
}

// Writes the feeds under dir/www; answers their paths on the server.
inline std::vector<std::string> writeFeeds(const fs::path& dir, int feeds, uint64_t* bytes) {
  fs::create_directories(dir / "www");
  std::vector<std::string> paths;
  *bytes = 0;
  for (int f = 0; f < feeds; ++f) {
    const bool atom = f % 3 == 2;
    const std::string path = "/" + std::to_string(f) + (atom ? ".atom" : ".rss");
    const std::string doc = feedDocument(f, atom);
    std::ofstream(dir / ("www" + path), std::ios::binary) << doc;
    *bytes += doc.size();
    paths.push_back(path);
  }
  return paths;
}

inline std::vector<std::string> environmentWith(const std::vector<std::string>& replaced) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    bool drop = v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0;
    for (const std::string& r : replaced) drop = drop || v.rfind(r.substr(0, r.find('=') + 1), 0) == 0;
    if (!drop) env.push_back(v);
  }
  env.insert(env.end(), replaced.begin(), replaced.end());
  return env;
}

// Starts argv with env (output to /dev/null); answers the pid or -1.
inline pid_t spawnChild(std::vector<std::string> argv, std::vector<std::string> env) {
  std::vector<char*> args, envp;
  for (std::string& a : argv) args.push_back(a.data());
  for (std::string& e : env) envp.push_back(e.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs argv with env to its end (output to /dev/null), measured alone.
inline ChildRun runChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  return runMeasured(argv, env);
}

inline int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

inline bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// nginx in the foreground, one process, serving dir/www on a free loopback
// port; its configuration, pid, log and temporary files all in dir. Given
// certs (see makeTestCertificates), it serves https with the certificate
// there and keeps connections alive for clients that ask. With logAnswers it
// logs every answer, for takeAnswers.
class Nginx {
 public:
  explicit Nginx(const fs::path& dir, const fs::path& certs = {}, bool logAnswers = false)
      : port_(freeLoopbackPort()), tls_(!certs.empty()), log_(logAnswers ? dir / "nginx/access.log" : fs::path()) {
    fs::create_directories(dir / "nginx");
    const std::string d = dir.string(), c = certs.string();
    const std::string listen = tls_ ? " ssl; root " + d + "/www;\n    ssl_certificate " + c +
                                          "/server.pem; ssl_certificate_key " + c + "/server.key;"
                                    : "; root " + d + "/www;";
    const std::string accessLog =
        logAnswers ? "  log_format answers '$ssl_protocol $status';\n  access_log " + log_.string() + " answers;\n"
                   : "  access_log off;\n";
    std::ofstream(dir / "nginx/nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << d << "/nginx/nginx.pid;\nerror_log " << d
        << "/nginx/error.log warn;\nevents { worker_connections 1024; }\nhttp {\n" << accessLog
        << "  client_body_temp_path " << d << "/nginx/body;\n  proxy_temp_path " << d << "/nginx/proxy;\n"
        << "  fastcgi_temp_path " << d << "/nginx/fastcgi;\n"
        << "  types { application/rss+xml rss; application/atom+xml atom; }\n  sendfile on;\n"
        << (tls_ ? "  keepalive_requests 100000;\n" : "") << "  server { listen 127.0.0.1:" << port_ << listen
        << " }\n}\n";
    pid_ = spawnChild({kNginx, "-p", d + "/nginx", "-e", d + "/nginx/error.log", "-c", d + "/nginx/nginx.conf"},
                      environmentWith({}));
    for (int i = 0; i < 500 && pid_ > 0 && !accepts(port_); ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ready_ = pid_ > 0 && accepts(port_);
  }
  ~Nginx() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  bool ready() const { return ready_; }
  std::string url(const std::string& path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
  }

  // The answers logged since the last call: fetched whole (200) or found
  // unchanged (304) over this server's scheme, and any other (an error, or
  // plain http sent to the TLS port). nginx logs an answer after sending it,
  // so this waits up to a second for lines still to come while fewer than
  // expected were fetched.
  struct Answers {
    int fetched = 0, other = 0;
  };
  Answers takeAnswers(int expected) {
    Answers answers;
    for (int wait = 0; wait < 100; ++wait) {
      std::ifstream in(log_, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(logRead_));
      std::string line;
      while (std::getline(in, line) && !in.eof()) {
        logRead_ += line.size() + 1;
        const size_t space = line.find(' ');
        const std::string protocol = line.substr(0, space);
        const std::string status = space == std::string::npos ? "" : line.substr(space + 1);
        const bool scheme = tls_ ? protocol.starts_with("TLS") : protocol.empty() || protocol == "-";
        ++((scheme && (status == "200" || status == "304")) ? answers.fetched : answers.other);
      }
      if (answers.fetched >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return answers;
  }

 private:
  int port_;
  bool tls_;
  fs::path log_;
  uint64_t logRead_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Makes a fresh "database.soup" in progdir with a news root, lets fill add
// to it (in progdir, the database's modules started) and closes it; false
// when it cannot be made.
// Runs work in progdir (made when missing) with the database's modules
// started, as a start of the program has them.
inline void inProgdirWithModules(const fs::path& progdir, const std::function<void()>& work) {
  bw::ModuleRegistry modules;
  modules.add({"dos", bw::dos::initDosLayer, bw::dos::endDosLayer});
  modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
  modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
  bw::addNewsModules(modules);
  modules.initAll();
  const fs::path previous = fs::current_path();
  fs::create_directories(progdir);
  fs::current_path(progdir);
  work();
  fs::current_path(previous);
  modules.endAll();
}

inline bool seedDatabaseWith(const fs::path& progdir,
                             const std::function<void(bw::cJournaledIndexedObjectSoupDatabase&, bw::newsRoot&)>& fill) {
  bool ok = false;
  inProgdirWithModules(progdir, [&] {
    bw::cJournaledIndexedObjectSoupDatabase db(0);
    if (db.openNew(bw::Text("database.soup"), false, false)) {
      auto root = std::make_unique<bw::newsRoot>();
      root->init(&db);
      db.setRootValue(db.createdObject(root.get()));
      fill(db, *root);
      db.unloadObject(root.release());
      db.close();
      ok = true;
    }
  });
  return ok;
}

// A fresh "database.soup" in progdir holding the feeds, as an earlier
// session of the program that added them would leave it, each with
// storedItems items (published an hour apart, newest first) and their bodies.
inline bool seedDatabase(const fs::path& progdir, const std::vector<std::string>& urls, int storedItems = 0) {
  return seedDatabaseWith(progdir, [&](bw::cJournaledIndexedObjectSoupDatabase& db, bw::newsRoot& root) {
    for (const std::string& url : urls) {
      bw::SoupTransaction tx(db.infoBlockFile());
      auto feed = std::make_unique<bw::newsFeed>();
      feed->type = bw::Str(url.ends_with(".atom") ? "Atom" : "RSS 2.0");
      feed->docFormat = bw::feedTypeToDocFormat(feed->type);
      feed->title = bw::Str(url);
      feed->url = bw::Str(url);
      feed->setSoup(&db);
      const int32_t feedIndex = db.createdObject(feed.get());
      for (int i = 0; i < storedItems; ++i) {
        auto body = std::make_unique<bw::newsItemBody>();
        body->summary = bw::Str("Stored item " + std::to_string(i) + " of " + url + ", a short summary of it.");
        auto item = std::make_unique<bw::newsItem>();
        item->title = bw::Str("Stored item " + std::to_string(i));
        item->link = bw::Str(url + "/stored/" + std::to_string(i));
        item->uniqueID = bw::Str(url + "/stored/" + std::to_string(i));  // a guid, as every stored item has an id
        item->published = 1700000000 - 3600LL * i;
        item->feedIndex = feedIndex;
        item->bodyIndex = db.createdAndUnloadObject(body.release());
        feed->itemList->insertAtTail(db.createdAndUnloadObject(item.release()));
      }
      db.unloadObject(feed.release());
      root.feedList->insertAtTail(feedIndex);
      tx.finish();
      if (storedItems > 0) db.flush();
    }
  });
}

// newsboat reloading the feeds listed in dir/urls, its cache, configuration
// (two reload threads) and home in dir/newsboat; extraEnv added to its
// environment (CURL_CA_BUNDLE, which newsboat hands to libcurl as its store).
struct NewsboatReload {
  std::vector<std::string> args, env;
  explicit NewsboatReload(const fs::path& dir, const std::vector<std::string>& extraEnv = {}) {
    const std::string nb = (dir / "newsboat").string();
    fs::create_directories(nb);
    std::ofstream(nb + "/config") << "reload-threads 2\n";
    args = {kNewsboat, "-x", "reload", "-u", (dir / "urls").string(), "-c", nb + "/cache.db", "-C", nb + "/config"};
    std::vector<std::string> replaced = {"HOME=" + nb, "XDG_CONFIG_HOME=" + nb, "XDG_DATA_HOME=" + nb};
    replaced.insert(replaced.end(), extraEnv.begin(), extraEnv.end());
    env = environmentWith(replaced);
  }
  ChildRun run() const { return runChild(args, env); }
};

// The nginx URLs of the paths, also written one a line to dir/urls.
inline std::vector<std::string> listUrls(const fs::path& dir, const Nginx& nginx, const std::vector<std::string>& paths) {
  std::vector<std::string> urls;
  std::ofstream list(dir / "urls");
  for (const std::string& p : paths) list << urls.emplace_back(nginx.url(p)) << "\n";
  return urls;
}

}  // namespace bw::bench

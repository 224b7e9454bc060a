// platform/test_folder.h - a scratch folder for the platform tests: made
// fresh under the system's temporary folder, removed with everything in it
// when the object goes.
#pragma once

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bw::testing {

class TestFolder {
 public:
  TestFolder() {
    std::string pattern = std::string(P_tmpdir) + "/bw-test-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    path_ = made ? made : "";
  }
  ~TestFolder() {
    if (path_.empty()) return;
    ::nftw(
        path_.c_str(),
        [](const char* p, const struct stat* st, int, struct FTW*) {
          ::chmod(p, S_ISDIR(st->st_mode) ? 0700 : 0600);
          return ::remove(p);
        },
        16, FTW_DEPTH | FTW_PHYS);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file with the given contents.
  void write(const std::string& name, const std::string& contents) const {
    FILE* f = std::fopen((path_ + "/" + name).c_str(), "wb");
    if (!f) return;
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
  }
  std::string read(const std::string& name) const {
    std::string out;
    FILE* f = std::fopen((path_ + "/" + name).c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
  }
  void mkdir(const std::string& name) const { ::mkdir((path_ + "/" + name).c_str(), 0755); }

 private:
  std::string path_;
};

}  // namespace bw::testing

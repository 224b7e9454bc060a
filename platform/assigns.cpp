// platform/assigns.cpp - the device and assign table and the private base.
#include "platform/assigns.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/ascii_case.h"
#include "platform/dos_errors.h"

namespace bw::dos {
namespace {

enum class Lazy { none, ram, t };

struct Entry {
  std::string name;
  DeviceKind kind = DeviceKind::folders;
  std::vector<std::string> folders;
  Lazy lazy = Lazy::none;  // folders come from the private base on first use
};

struct Table {
  bool built = false;
  std::string dataFolder;  // as the environment named it when built
  std::vector<Entry> entries;
};

Table& table() {
  static Table t;
  return t;
}

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The current directory, "" when it cannot be had.
std::string currentFolder() {
  std::string buf(4096, '\0');
  return ::getcwd(buf.data(), buf.size()) ? std::string(buf.c_str()) : std::string();
}

// The data folder as the environment names it now (empty when it names
// none).
std::string dataFolderOfEnvironment() {
  if (std::string dir = envOr("BRINDLEWORK_PROGDIR"); !dir.empty()) {
    // A relative override names a folder of the one the program started in,
    // which stops being the current directory once the run enters it.
    if (dir[0] == '/') return dir;
    const std::string here = currentFolder();
    return here.empty() ? std::string() : here + (here == "/" ? "" : "/") + dir;
  }
  std::string base = envOr("XDG_DATA_HOME");
  // The variable counts only when it is an absolute path.
  if (base.empty() || base[0] != '/') {
    const std::string home = envOr("HOME");
    if (home.empty() || home[0] != '/') return {};
    base = home + "/.local/share";
  }
  return base + "/brindlework";
}

// The folders of PROGDIR:: the user's data first (an overriding folder as
// much as the usual one), then the program's read-only files.
std::vector<std::string> progDirFolders(const std::string& data) {
  std::vector<std::string> folders;
  if (!data.empty()) folders.push_back(data);
  std::string exe = executableFolder();
  folders.push_back(exe);
  folders.push_back(exe + "/../share/brindlework");
  return folders;
}

std::vector<std::string> within(const std::vector<std::string>& folders, const char* name) {
  std::vector<std::string> out;
  for (const std::string& f : folders) out.push_back(f + "/" + name);
  return out;
}

void build(Table& t) {
  t.entries.clear();
  t.dataFolder = dataFolderOfEnvironment();
  std::vector<std::string> prog = progDirFolders(t.dataFolder);
  t.entries.push_back({"", DeviceKind::folders, {"/"}, Lazy::none});
  t.entries.push_back({"PROGDIR", DeviceKind::folders, prog, Lazy::none});
  t.entries.push_back({"RAM", DeviceKind::folders, {}, Lazy::ram});
  t.entries.push_back({"T", DeviceKind::folders, {}, Lazy::t});
  t.entries.push_back({"L", DeviceKind::folders, within(prog, "L"), Lazy::none});
  t.entries.push_back({"Libs", DeviceKind::folders, within(prog, "Libs"), Lazy::none});
  t.entries.push_back({"NIL", DeviceKind::folders, {"/dev/null"}, Lazy::none});
  t.entries.push_back({"ENV", DeviceKind::virtual_, {}, Lazy::none});
  t.entries.push_back({"PIPE", DeviceKind::virtual_, {}, Lazy::none});
  t.built = true;
}

Entry* find(Table& t, std::string_view name) {
  for (Entry& e : t.entries)
    if (equalsNoCase(e.name, name)) return &e;
  return nullptr;
}

// A private folder must be a real directory of ours that nobody else may
// enter. Makes it (0700) when missing.
bool privateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return false;  // a symlink or anything else
  if (st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & 077) != 0) return false;
  return true;
}

// Makes the missing folders of path (each 0700), the last one included.
int makeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) return 0;
  }
}

}  // namespace

std::string dataFolderPath() {
  Table& t = table();
  if (!t.built) build(t);
  return t.dataFolder;
}

DataFolder dataFolder() {
  DataFolder d;
  d.path = dataFolderPath();
  const bool overridden = !envOr("BRINDLEWORK_PROGDIR").empty();
  if (d.path.empty()) {
    d.error = overridden ? "the current folder cannot be read" : "neither XDG_DATA_HOME nor HOME names a folder";
    return d;
  }
  if (int e = makeFolders(d.path); e != 0) {
    d.error = std::strerror(e);
    return d;
  }
  struct stat st{};
  if (::stat(d.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    d.error = "not a folder";
    return d;
  }
  // It holds the user's feeds and access tokens: nobody else may enter. A
  // folder the user named is taken as it stands (the folders it was missing
  // were made 0700).
  if (!overridden && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) ::chmod(d.path.c_str(), 0700);
  return d;
}

std::string executableFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

PrivateBase privateBase() {
  std::string base;
  if (std::string runtime = envOr("XDG_RUNTIME_DIR"); !runtime.empty()) {
    base = runtime + "/brindlework";
    // A runtime folder that is gone (its session ended) or not ours (su
    // without a login) cannot hold the base: the temporary folder serves.
    // A base that stands there but is refused stays refused.
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) base.clear();
  }
  if (base.empty()) {
    std::string tmp = envOr("TMPDIR");
    if (tmp.empty()) tmp = P_tmpdir;
    base = tmp + "/brindlework-" + std::to_string(::geteuid());
  }
  if (!privateFolder(base)) return {"", kErrorDeviceNotMounted};
  return {base, 0};
}

DeviceRef findDevice(std::string_view name) {
  Table& t = table();
  if (!t.built) build(t);
  Entry* e = find(t, name);
  if (!e) return {DeviceKind::unknown, nullptr, kErrorDeviceNotMounted};
  if (e->lazy != Lazy::none) {
    PrivateBase base = privateBase();
    if (base.error != 0) return {DeviceKind::unknown, nullptr, base.error};
    std::string folder = base.path + (e->lazy == Lazy::ram ? "/RAM" : "/T");
    if (!privateFolder(folder)) return {DeviceKind::unknown, nullptr, kErrorDeviceNotMounted};
    e->folders.assign(1, folder);
    e->lazy = Lazy::none;
  }
  return {e->kind, &e->folders, 0};
}

DeviceLookup lookupDevice(std::string_view name) {
  DeviceRef ref = findDevice(name);
  if (ref.kind == DeviceKind::unknown) return {DeviceKind::unknown, {}, ref.error};
  return {ref.kind, *ref.folders, 0};
}

void assignAdd(std::string_view name, std::string_view hostFolder) {
  Table& t = table();
  if (!t.built) build(t);
  Entry* e = find(t, name);
  if (!e) {
    t.entries.push_back({std::string(name), DeviceKind::folders, {}, Lazy::none});
    e = &t.entries.back();
  }
  if (e->lazy != Lazy::none || e->kind != DeviceKind::folders) {
    e->lazy = Lazy::none;
    e->kind = DeviceKind::folders;
    e->folders.clear();
  }
  e->folders.emplace_back(hostFolder);
}

void assignRemove(std::string_view name) {
  Table& t = table();
  if (!t.built) build(t);
  for (auto it = t.entries.begin(); it != t.entries.end(); ++it)
    if (equalsNoCase(it->name, name)) {
      t.entries.erase(it);
      return;
    }
}

void resetAssigns() {
  table().built = false;
}

}  // namespace bw::dos

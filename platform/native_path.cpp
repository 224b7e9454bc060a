// platform/native_path.cpp - native to host path translation and the
// dos.library name procedures.
#include "platform/native_path.h"

#include <unistd.h>

#include <cerrno>

#include "platform/assigns.h"
#include "platform/dos_errors.h"

namespace bw::dos {
namespace {

std::string currentFolder() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) {
      buf.resize(std::char_traits<char>::length(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

void appendHostRest(std::string_view rest, std::string& out) {
  // Every "/" that does not end a name is a parent step.
  size_t i = 0, n = rest.size();
  bool first = true;
  while (i < n) {
    if (!first) out += '/';
    first = false;
    if (rest[i] == '/') {
      out += "..";
      ++i;
      continue;
    }
    size_t end = rest.find('/', i);
    if (end == std::string_view::npos) end = n;
    out.append(rest.substr(i, end - i));
    i = end < n ? end + 1 : n;  // the "/" that ends the name
  }
}

namespace {

int32_t deviceError(const DeviceRef& dev) {
  if (dev.kind == DeviceKind::unknown) return dev.error;
  return dev.kind == DeviceKind::virtual_ ? kErrorActionNotKnown : kErrorDeviceNotMounted;
}

// Builds the host path of folder `index` of the device; false (IoErr set)
// when there is no such folder.
bool buildHost(std::string_view native, size_t colon, const DeviceRef& dev, size_t index, std::string& host) {
  host.clear();
  if (colon == std::string_view::npos) {
    appendHostRest(native, host);
    if (host.empty()) host = ".";
    return true;
  }
  if (dev.kind != DeviceKind::folders || index >= dev.folders->size()) {
    setIoErr(deviceError(dev));
    return false;
  }
  host.append((*dev.folders)[index]);
  std::string_view rest = native.substr(colon + 1);
  if (!rest.empty()) {
    if (host.empty() || host.back() != '/') host += '/';
    appendHostRest(rest, host);
  }
  return true;
}

}  // namespace

size_t hostPathCount(Text nativeText) {
  std::string_view native = nativeText.nulView();
  size_t colon = native.find(':');
  if (colon == std::string_view::npos) return 1;
  DeviceRef dev = findDevice(native.substr(0, colon));
  if (dev.kind != DeviceKind::folders || dev.folders->empty()) {
    setIoErr(deviceError(dev));
    return 0;
  }
  return dev.folders->size();
}

bool nativeToHostAt(Text nativeText, size_t index, std::string& host) {
  std::string_view native = nativeText.nulView();
  size_t colon = native.find(':');
  if (colon == std::string_view::npos) {
    host.clear();
    return index == 0 && buildHost(native, colon, DeviceRef{}, 0, host);
  }
  return buildHost(native, colon, findDevice(native.substr(0, colon)), index, host);
}

size_t nativeToHostFirst(Text nativeText, std::string& host) {
  std::string_view native = nativeText.nulView();
  size_t colon = native.find(':');
  DeviceRef dev;
  if (colon != std::string_view::npos) dev = findDevice(native.substr(0, colon));
  if (!buildHost(native, colon, dev, 0, host)) return 0;
  return colon == std::string_view::npos ? 1 : dev.folders->size();
}

HostPaths nativeToHostAll(Text native) {
  HostPaths r;
  size_t count = hostPathCount(native);
  for (size_t i = 0; i < count; ++i) {
    std::string host;
    if (nativeToHostAt(native, i, host)) r.paths.push_back(std::move(host));
  }
  r.ok = !r.paths.empty();
  if (!r.ok) r.error = ioErr();
  return r;
}

bool nativeToHost(Text native, std::string& host) {
  if (nativeToHostFirst(native, host) != 0) return true;
  host.clear();
  return false;
}

std::string hostToNative(std::string_view host, std::string_view base) {
  std::string absolute;
  if (!host.empty() && host[0] != '/' && host.find(':') != std::string_view::npos) {
    absolute = base.empty() ? currentFolder() : std::string(base);
    absolute += '/';
    absolute.append(host);
    host = absolute;
  }
  bool isAbsolute = !host.empty() && host[0] == '/';
  std::string out = isAbsolute ? ":" : "";
  // Components: names, and ".." as parent steps.
  size_t i = 0, n = host.size();
  bool lastWasName = false;
  while (i < n) {
    if (host[i] == '/') {
      ++i;
      continue;
    }
    size_t end = host.find('/', i);
    if (end == std::string_view::npos) end = n;
    std::string_view name = host.substr(i, end - i);
    i = end;
    if (name == ".") continue;
    if (name == "..") {
      out += '/';  // a parent step: after a name it needs its separator too
      if (lastWasName) out += '/';
      lastWasName = false;
      continue;
    }
    if (lastWasName) out += '/';
    out.append(name);
    lastWasName = true;
  }
  return out;
}

size_t filePartIndex(std::string_view path) {
  if (path.empty()) return 0;
  size_t i = path.size() - 1;
  while (path[i] != '/' && path[i] != ':' && i != 0) --i;
  if (path[i] == '/' || path[i] == ':') ++i;
  return i;
}

size_t pathPartIndex(std::string_view path) {
  size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;
  size_t end = start;
  for (size_t i = start; i < path.size(); ++i) {
    if (path[i] == '/') end = i;
    else if (path[i] == ':') end = i + 1;
  }
  return end;
}

bool addPart(std::string& path, std::string_view part, size_t size) {
  std::string result;
  if (part.find(':') != std::string_view::npos) {
    result.assign(part);
  } else {
    result = path;
    size_t i = 0;
    // Each leading "/" of the part drops the path's last name, while the
    // path ends with one.
    for (; i < part.size() && part[i] == '/'; ++i) {
      size_t n = result.size();
      if (n > 1 && result[n - 1] == '/' && result[n - 2] != '/' && result[n - 2] != ':')
        result.pop_back();  // "a/b/": the "/" only ends the name
      if (result.empty() || result.back() == ':' || result.back() == '/') break;
      result.resize(filePartIndex(result));
      n = result.size();
      if (n > 1 && result[n - 1] == '/' && result[n - 2] != '/' && result[n - 2] != ':')
        result.pop_back();  // the separator before the dropped name
    }
    std::string_view rest = part.substr(i);
    if (!rest.empty()) {
      if (!result.empty() && result.back() != ':' && result.back() != '/') result += '/';
      result.append(rest);
    }
  }
  if (result.size() + 1 > size) {
    setIoErr(kErrorLineTooLong);
    return false;
  }
  path = std::move(result);
  return true;
}

}  // namespace bw::dos

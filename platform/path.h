// platform/path.h - internal paths and cPath, the root of the file layer.
//
// Every file-system name that crosses a module boundary is an internal path:
//   1. An absolute path is a device name (volume, device or assign), ":" and
//      at once "/": "Work:/", "Work:/news/feeds.db". The native root ":" of
//      the current volume is ":/". A relative path has no ":".
//   2. Names are separated by one "/". A directory path ends in "/"; the
//      empty path (the current directory) is a directory path too. Every
//      other path is a file path: the form alone tells the kind.
//   3. Only the first ":" counts. Other slashes are passed through untouched,
//      so a native parent step ("a//b") survives both conversions.
//   4. ImportFilePath/ImportDirPath/ExportPath are the only places where
//      native names are made from internal ones and back. ExportPath raises
//      "EPU" exactly when the validity test of the path's form says invalid.
//
// cPath is an abstract object that stands for one file or directory by its
// path. It keeps the last error (the failing method's name and a text) for
// callers to read after a FALSE result; the object owns its copy of the text.
// The static procedures below are the path module; those that touch the disk
// (ExistsPath, DeletePath, MakeUniquePath, ReadLink, CurrentDirPath,
// ExpandPath) are in path_procs.cpp and path_expand.cpp; path_procs.h holds
// their module state.
#pragma once

#include <cstdint>
#include <memory>

#include "core/str.h"
#include "platform/path_extra.h"

namespace bw {

// Position and length of the last name inside a path (not a copy).
struct PathNameSpan {
  int32_t position = 0;
  int32_t length = 0;
};

// Result of cPath::ReadLink: the target as an internal path (NIL when the
// path is not a link) and the link type code (kExtraSLNK, kExtraHLNK or 0).
struct PathLink {
  Str target;
  uint32_t linkType = 0;
};

class cPath : public cExtra {
  BW_CLASS(cPath, cExtra)

 public:
  // --- the path module ----------------------------------------------------

  // Native file path to internal form; NIL gives NIL.
  // "Work:news/feeds.db" -> "Work:/news/feeds.db".
  static Str ImportFilePath(Text nativePath);
  // Native directory path to internal form; NIL gives NIL.
  // "Work:" -> "Work:/", "news" -> "news/", "" -> "", "/" -> "/".
  static Str ImportDirPath(Text nativePath);
  // Internal path to native form; NIL gives NIL. Raises "EPU"
  // "cPath(); ExportPath(); path is invalid" for a malformed path.
  static Str ExportPath(Text path);

  // Validity tests: true when NOT valid. NIL raises "EPU".
  static bool InvalidDirName(Text dirName);
  static bool InvalidFileName(Text fileName);
  static bool InvalidDirPath(Text dirPath);
  static bool InvalidFilePath(Text filePath);

  // The last name of a path, a directory's with its trailing "/";
  // "Work:/" is one name of 6 characters. NIL raises "EPU".
  static PathNameSpan FindName(Text path);
  static Str ExtractName(Text path);
  // The parent part up to and including its last "/", or "".
  static Str ExtractSubPath(Text path);
  // "device:/" of an absolute path, "" of a relative one.
  static Str ExtractDevice(Text path);

  // The current directory as an internal directory path. Raises "FILE" when
  // its name cannot be had.
  static Str CurrentDirPath();
  // An absolute internal path; where the object exists, links and assigns
  // are resolved by the system (so the device becomes ":/").
  static Str ExpandPath(Text path);

  // True when the path exists (and, unless ignoreKind, is of the kind its
  // form says; soft links count as their target's kind).
  static bool ExistsPath(Text path, bool ignoreKind);
  // Deletes one object (an empty directory, a file, a link itself).
  static bool DeletePath(Text path, bool force, bool ignoreKind);
  // A path dirPath + prefix + hex number (+ "/" for file1dir2 == 2) that did
  // not exist when it was chosen; prefix NIL means "TMP".
  static Str MakeUniquePath(int32_t file1dir2, Text dirPath, Text prefix);
  // The target of a link as an internal path of the argument's kind.
  static PathLink ReadLink(Text path);

  // --- the object ---------------------------------------------------------

  cPath() = default;

  virtual bool open(Text path, bool readOnly, bool force) = 0;
  // Removes (failIfExists FALSE) or refuses (TRUE) what stands at path, then
  // opens it for writing; when the open fails after the refusal test, what
  // the attempt may have made is deleted. Files add setSize(0).
  virtual bool create(Text path, bool failIfExists, bool force);
  virtual void close() {}
  virtual void flush() {}
  // Writes back and drops buffers; the buffered file overrides it.
  virtual void dropBuffers() {}
  // A new unopened object of the same class.
  virtual std::unique_ptr<cPath> make() { return nullptr; }
  // A second object open on the same file or directory.
  virtual std::unique_ptr<cPath> clone(bool flag) {
    (void)flag;
    return nullptr;
  }

  // The last error: the failing method ("cPath.setName()") and its text.
  const char* infoErrorSource() const { return errorSource_; }
  Text infoError() const { return error_; }
  bool infoReadOnly() const { return readOnly_; }

  virtual bool isOpen() const = 0;
  virtual bool setAttributes(int32_t values, int32_t mask) = 0;
  virtual int32_t getAttributes() = 0;
  virtual int32_t getAttributesSupported() = 0;
  // Renames the object.
  virtual bool setPath(Text path) = 0;
  // The object's internal path, owned by the object; NIL here.
  virtual Text getPath() const { return nullptr; }

  // Moves the object under another parent path (which should end in "/").
  virtual bool setSubPath(Text path);
  virtual Str getSubPath() const { return ExtractSubPath(getPath()); }
  // Renames the last name; a directory's new name carries its own "/".
  virtual bool setName(Text newFileName);
  virtual Str getName() const { return ExtractName(getPath()); }

 protected:
  // Records the last error; the object keeps its own copy of the text.
  void setError(const char* source, Text text);
  void setErrorSource(const char* source) { errorSource_ = source; }
  void clearError();
  void setReadOnly(bool readOnly) { readOnly_ = readOnly; }

 private:
  const char* errorSource_ = nullptr;
  Str error_;
  bool readOnly_ = false;
};

}  // namespace bw

#pragma once

#include <cstdint>
#include <string>

#include "platform/file_services.h"

namespace kopiensieb {

// File services on Windows, through the wide-character calls: texts stay UTF-8 inside and
// every name, also one outside the ANSI code page, is reachable. Every path goes to the
// system with the "\\?\" prefix, so the 260-character limit does not apply. Reparse points
// (symbolic links, junctions, mount points) are neither followed nor catalogued; a file's
// identity is its volume serial number and file index.
class Win32FileServices final : public FileServices {
 public:
  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override;
  PathKind WhatExists(const std::string& path) override;
  std::optional<FileStatus> StatusOf(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  // Deletes only a plain file, through the very handle it was checked on: never a folder, and
  // never a reparse point or what it points to.
  bool Delete(const std::string& path) override;
  // Looks at the file and deletes it through one handle, so nothing can take its place in
  // between.
  DeleteOutcome DeleteIfUnchanged(const std::string& path, const FileStatus& expected) override;
  // Splits `relative` at "\" (and "/"); each folder below the root is opened as the scan
  // opens subfolders, never through a reparse point.
  std::unique_ptr<DirectoryEnumeration> StartEnumerationBelow(const std::string& root,
                                                              const std::string& relative) override;
  // Holds no state of its own.
  bool ReadsConcurrently() const override { return true; }
};

// The form of a UTF-8 path that the wide calls take without a length limit: "D:\a" becomes
// "\\?\D:\a", "\\server\share" becomes "\\?\UNC\server\share", a bare drive "D:" its root;
// "/" counts as "\" (the prefix turns off that translation in the system). Paths holding "."
// or ".." components are made whole first, since the prefix turns that off too.
std::wstring ExtendedPath(const std::string& path);

// What an entry of a folder's listing counts as, from its attributes: a folder, a file, or
// (EntryKind::None) nothing the scan takes, for a reparse point (a link, junction or mount
// point): following one could loop or pair a file with itself.
EntryKind ListedKind(std::uint32_t attributes);

}  // namespace kopiensieb

#pragma once

#include "platform/file_services.h"

namespace kopiensieb {

// File services on POSIX: readdir enumeration relative to open folders (openat/fstatat), so
// that deep trees and paths longer than PATH_MAX work; unlink for deletion.
//
// Paths of up to PATH_MAX bytes go to the kernel as they are. Longer paths are walked one
// component at a time with openat (following symbolic links on the way, as the kernel would
// for a short path), and the last component is then handled relative to its folder, so a
// path means the same whatever its length. An empty path names the root folder "/" (the
// scan's folder text for the root is "").
class PosixFileServices final : public FileServices {
 public:
  // Raises the soft limit of open files to the hard limit: the scan holds one open folder per
  // level of the tree, and very deep trees would otherwise run out of descriptors early.
  PosixFileServices();

  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override;
  PathKind WhatExists(const std::string& path) override;
  std::optional<FileStatus> StatusOf(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  bool Delete(const std::string& path) override;
  // Holds no state of its own.
  bool ReadsConcurrently() const override { return true; }
};

}  // namespace kopiensieb

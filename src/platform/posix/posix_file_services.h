#pragma once

#include <memory>
#include <mutex>

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
  // Keeps the folders of the planned files open (O_PATH) for OpenForReading, which then
  // opens a file relative to its folder instead of walking the whole path again. When the
  // files are not in memory, a few threads open them in inode order and ask the kernel for
  // their starts ahead of the reader, so that the disk has several reads queued, in about the
  // order the data lies.
  std::unique_ptr<ReadingSession> StartReading(std::vector<PlannedRead> reads) override;
  // The open folders are shared under a lock.
  bool ReadsConcurrently() const override { return true; }

  class FolderDescriptors;
  // Called by the session as it ends.
  void EndReading();

 private:
  std::shared_ptr<FolderDescriptors> Folders();
  void SetFolders(std::shared_ptr<FolderDescriptors> folders);

  std::mutex foldersGuard_;
  std::shared_ptr<FolderDescriptors> folders_;  // while a reading session lives
};

}  // namespace kopiensieb

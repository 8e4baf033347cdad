#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file_services.h"

namespace kopiensieb {

// File services on POSIX: readdir enumeration relative to open folders (openat/fstatat), so
// that deep trees and paths longer than PATH_MAX work; unlink for deletion.
//
// Paths of up to PATH_MAX bytes go to the kernel as they are. Longer paths are walked one
// component at a time with openat, never following a symbolic link on the way (O_NOFOLLOW),
// and the last component is then handled relative to its folder. An empty path names the
// root folder "/" (the scan's folder text for the root is "").
//
// Below a chosen folder no link is followed, also not in a race: subfolders are opened
// relative to their parent with O_NOFOLLOW | O_DIRECTORY, and a file is looked at and deleted
// relative to one open descriptor of its folder.
class PosixFileServices final : public FileServices {
 public:
  // The moments between a look and the action that relies on it, where another process may
  // change the tree.
  enum class RacePoint {
    BeforeOpenSubfolder,  // a folder was listed as a folder and is about to be opened
    BeforeDelete          // a file was found unchanged and is about to be deleted
  };
  using RaceHook = std::function<void(RacePoint point, const std::string& name)>;

  // Raises the soft limit of open files to the hard limit: the scan holds one open folder per
  // level of the tree, and very deep trees would otherwise run out of descriptors early.
  PosixFileServices();

  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override;
  PathKind WhatExists(const std::string& path) override;
  std::optional<FileStatus> StatusOf(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenCatalogued(const FileLocation& location) override;
  bool Delete(const std::string& path) override;
  DeleteOutcome DeleteIfUnchanged(const std::string& path, const FileStatus& expected) override;
  std::unique_ptr<DirectoryEnumeration> StartEnumerationBelow(const std::string& root,
                                                              const std::string& relative) override;
  // Keeps the folders of the planned files open (O_PATH) for OpenCatalogued, which then
  // opens a file relative to its folder instead of walking the whole path again. When the
  // files are not in memory, a few threads open them in inode order and ask the kernel for
  // their starts ahead of the reader, so that the disk has several reads queued, in about the
  // order the data lies.
  std::unique_ptr<ReadingSession> StartReading(const ReadingPlan& plan) override;
  // The open folders of a reading session are shared under sharded locks.
  bool ReadsConcurrently() const override { return true; }
  // An enumeration holds its own descriptor and DIR stream and touches nothing shared but the
  // race hook, which is only read.
  bool EnumeratesOnAnyThread() const override { return true; }

  class FolderDescriptors;
  // Called by the session as it ends.
  void EndReading();

  // For tests only: lets a test change the tree at a race point, so that races are played
  // deterministically. Set it before the enumerations it is to reach are started. A folder
  // scan may call it on two threads at once.
  void SetRaceHook(RaceHook hook) { raceHook_ = std::move(hook); }

 private:
  std::unique_ptr<ReadableFile> OpenByPath(const std::string& path);
  FolderDescriptors* Folders() const;
  void SetFolders(std::shared_ptr<FolderDescriptors> folders);

  RaceHook raceHook_;
  // Those of the reading session, which owns them, while it lives. Read without a lock on every
  // open: the search ends its session only after its readers are done.
  std::atomic<FolderDescriptors*> folders_{nullptr};
};

}  // namespace kopiensieb

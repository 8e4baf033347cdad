#pragma once

#include "platform/file_services.h"

namespace kopiensieb {

// File services on POSIX: readdir enumeration relative to open folders (openat/fstatat), so
// that deep trees and paths longer than PATH_MAX work; unlink for deletion.
class PosixFileServices final : public FileServices {
 public:
  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override;
  PathKind WhatExists(const std::string& path) override;
  std::optional<FileStatus> StatusOf(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  bool Delete(const std::string& path) override;
};

}  // namespace kopiensieb

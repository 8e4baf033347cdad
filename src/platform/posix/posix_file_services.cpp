#include "platform/posix/posix_file_services.h"

namespace kopiensieb {
namespace {
class EmptyEnumeration final : public DirectoryEnumeration {
 public:
  DirectoryEntry Next() override { return {}; }
  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string&) override {
    return std::make_unique<EmptyEnumeration>();
  }
};
}  // namespace
std::unique_ptr<DirectoryEnumeration> PosixFileServices::StartEnumeration(const std::string&) {
  return std::make_unique<EmptyEnumeration>();  // STUB
}
PathKind PosixFileServices::WhatExists(const std::string&) { return PathKind::Nothing; }
std::optional<FileStatus> PosixFileServices::StatusOf(const std::string&) { return {}; }
std::unique_ptr<ReadableFile> PosixFileServices::OpenForReading(const std::string&) { return {}; }
bool PosixFileServices::Delete(const std::string&) { return false; }
}  // namespace kopiensieb

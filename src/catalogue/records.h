#pragma once

#include <cstdint>
#include <string>

#include "catalogue/cursor_list.h"
#include "platform/file_services.h"
#include "platform/path_conventions.h"

namespace kopiensieb {

// One catalogued file.
struct FileRecord : ListLinks<FileRecord> {
  std::int64_t size = 0;        // true 64-bit size, as the enumeration reported it
  FileIdentity identity;        // device and inode at scan time
  std::int64_t modifiedNs = 0;  // modification time at scan time, nanoseconds since the epoch
  std::string folder;           // without a trailing separator; "" (or "D:") for the root
  std::string name;
  bool grouped = false;           // placed into a group by the running search as a non-first member
  bool shownInFilesView = false;  // FilesView has a row for it (cleared when its file is deleted)
};

struct GroupMember;

struct DuplicateGroup : ListLinks<DuplicateGroup> {
  std::int32_t memberCount = 0;
  GroupMember* firstMember = nullptr;  // into GroupMemberList, not owned
  std::int64_t size = 0;
};

struct GroupMember : ListLinks<GroupMember> {
  std::string folder;
  std::string name;
  FileRecord* file = nullptr;  // into FileCatalogue, not owned
};

// A record of PatternList or FolderList.
struct TextRecord : ListLinks<TextRecord> {
  std::string text;
};

struct ToDeleteEntry : ListLinks<ToDeleteEntry> {
  FileRecord* file = nullptr;  // into FileCatalogue, not owned
  std::int32_t done = 0;
};

using FileCatalogue = CursorList<FileRecord>;
using DuplicateGroupList = CursorList<DuplicateGroup>;
using GroupMemberList = CursorList<GroupMember>;
using PatternList = CursorList<TextRecord>;
using FolderList = CursorList<TextRecord>;
using ToDeleteList = CursorList<ToDeleteEntry>;

// The full path of a catalogued file: folder, separator, name.
inline std::string FullPath(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder).push_back(kNativePaths.separator);
  path.append(name);
  return path;
}

inline std::string FullPath(const FileRecord& record) {
  return FullPath(record.folder, record.name);
}

}  // namespace kopiensieb

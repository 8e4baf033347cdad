#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/cursor_list.h"
#include "common/shared_text.h"
#include "platform/file_services.h"
#include "platform/path_conventions.h"

namespace kopiensieb {

// One catalogued file.
struct FileRecord : ListLinks<FileRecord> {
  std::int64_t size = 0;        // true 64-bit size, as the enumeration reported it
  FileIdentity identity;        // device and inode at scan time
  std::int64_t modifiedNs = 0;  // modification time at scan time, nanoseconds since the epoch
  // Without a trailing separator; "" (or "D:") for the root. Shared by the records of the files
  // of one folder.
  SharedText folder;
  std::string name;
  bool grouped = false;           // placed into a group by the running search as a non-first member
  bool shownInFilesView = false;  // FilesView has a row for it (cleared when its file is deleted)
  // Deleted by "Mark. löschen" (or found gone by it): no longer a copy that another can rely on,
  // even if a new file of the same size, time and inode number turns up at its path.
  bool deleted = false;
};

struct GroupMember;

struct DuplicateGroup : ListLinks<DuplicateGroup> {
  std::int32_t memberCount = 0;
  GroupMember* firstMember = nullptr;  // into GroupMemberList, not owned
  std::int64_t size = 0;
  bool equalContent = true;  // found by content; false for a group of equal names
};

struct GroupMember : ListLinks<GroupMember> {
  SharedText folder;
  std::string name;
  FileRecord* file = nullptr;  // into FileCatalogue, not owned
};

// A record of PatternList or FolderList.
struct TextRecord : ListLinks<TextRecord> {
  std::string text;
};

// A group as it stood when files were marked from it: its members' files (into FileCatalogue,
// not owned), in chain order, and whether it was one of equal content. Shared by every entry
// marked from it in one command, so that marking all of a large group costs linear space.
struct MarkedGroup {
  std::vector<FileRecord*> files;
  bool equalContent = true;
};

struct ToDeleteEntry : ListLinks<ToDeleteEntry> {
  FileRecord* file = nullptr;  // into FileCatalogue, not owned
  std::int32_t done = 0;
  // The group the file was marked from. The file is deleted only while another of its files
  // is left as a copy; with no group, no copy is known and the file is never deleted.
  std::shared_ptr<const MarkedGroup> group;
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

// Where the record's file lies, as views of the record (valid while the record lives and its
// texts are not changed).
inline FileLocation LocationOf(const FileRecord& record) {
  return FileLocation{.folder = record.folder, .name = record.name};
}

}  // namespace kopiensieb

#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_conventions.h"

namespace kopiensieb {

// Which file a path named when it was looked at.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  // All zeros was never filled in (inode 0 names no file), so it proves nothing.
  bool Known() const { return inode != 0 || device != 0; }
};

struct FileStatus {
  std::int64_t size = 0;
  FileIdentity identity;
  std::int64_t modifiedNs = 0;  // nanoseconds since the epoch
  friend bool operator==(const FileStatus&, const FileStatus&) = default;
};

enum class EntryKind { None, Folder, File };

// One entry of a folder. Only regular files come as File and only real folders as Folder;
// symbolic links, FIFOs, sockets and devices are never reported. "." and ".." are never
// reported either.
struct DirectoryEntry {
  EntryKind kind = EntryKind::None;
  std::string name;
  FileStatus status;  // filled for files
};

// An open enumeration of one folder level. Entries come in the platform's order, unsorted.
class DirectoryEnumeration {
 public:
  virtual ~DirectoryEnumeration() = default;
  // The next entry; kind None when there are no more (or the folder could not be read).
  virtual DirectoryEntry Next() = 0;
  // Opens a subfolder of this folder relative to it, so that depth and path length are no
  // limit. A subfolder that cannot be read yields an enumeration without entries.
  virtual std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) = 0;
};

// A folder without entries: what a folder that cannot be read, or is not to be entered,
// enumerates as, and so does every subfolder of it.
class EmptyEnumeration final : public DirectoryEnumeration {
 public:
  DirectoryEntry Next() override { return {}; }
  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string&) override {
    return std::make_unique<EmptyEnumeration>();
  }
};

// A file open for reading, positioned at byte 0 when opened.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to buffer.size() bytes at the current position and advances by the bytes read.
  // Returns the bytes read: 0 at the end of the file or on a read error.
  virtual std::int64_t Read(std::span<char> buffer) = 0;
  virtual std::int64_t Position() const = 0;
  // Moves forward to an absolute position without handing out the bytes in between (a file
  // whose first chunk was already digested need not be read twice). False when that fails.
  virtual bool SkipTo(std::int64_t position) {
    std::array<char, 4096> discard{};
    while (Position() < position) {
      const std::int64_t wanted =
          std::min<std::int64_t>(position - Position(), static_cast<std::int64_t>(discard.size()));
      if (Read(std::span<char>(discard.data(), static_cast<std::size_t>(wanted))) <= 0) {
        return false;
      }
    }
    return Position() == position;
  }
  // What the file was when it was opened (size, identity, modification time), if it can be
  // told.
  virtual std::optional<FileStatus> Status() const = 0;
};

// Where a catalogued file lies: its folder text (without a trailing separator; "" or "D:" for
// the root) and its name, both viewed in the catalogue's own record, so that a search over a
// million files copies no path.
struct FileLocation {
  // No folder number: the folder is known by its text alone.
  static constexpr std::uint32_t kUnnumbered = 0xFFFFFFFF;

  std::string_view folder;
  std::string_view name;
  // Where a reading plan numbers its folders (see ReadingPlan::FolderNumbers), this one's
  // number, so that file services can find a folder they keep open without looking up its
  // text. Only a hint: a folder found under a number must still have this folder's text.
  std::uint32_t folderNumber = kUnnumbered;

  // The full path: folder, separator, name.
  std::string Path() const {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).push_back(kNativePaths.separator);
    path.append(name);
    return path;
  }
};

// A file a search is about to read: where it is, and how much of its start will be read first.
// The location views the catalogue record, which outlives the reading session.
struct PlannedRead {
  FileLocation location;
  FileIdentity identity;  // as catalogued; orders the reads where the data lies
  std::int64_t startBytes = 0;
};

// The files a search is about to read, handed out one at a time: file services that need
// only a sample of them, or none, copy nothing per file.
class ReadingPlan {
 public:
  virtual ~ReadingPlan() = default;
  virtual std::size_t Count() const = 0;
  // number < Count(). The location stays valid while a session started from the plan lives.
  virtual PlannedRead At(std::size_t number) const = 0;
  // The folder numbers the plan's locations use are below this; 0 where they are unnumbered.
  // The locations of one folder should share a number, but need not all have the same one.
  virtual std::uint32_t FolderNumbers() const { return 0; }
};

// Lives as long as a search reads; see FileServices::StartReading.
class ReadingSession {
 public:
  virtual ~ReadingSession() = default;
  // How many files the search should read at once where the session knows better than the
  // number of cores (files that must come from a disk that keeps several reads in flight, or
  // from one whose head should move one way, or fewer readers than cores where only that many
  // fit the open-file limit); 0 where it does not.
  virtual std::size_t ReadersWorthRunning() const { return 0; }
  // Whether the planned files are in memory already, so that the order in which they are read
  // costs nothing at the disk.
  virtual bool PlanInMemory() const { return false; }
};

enum class PathKind {
  Nothing,  // certainly nothing: no such entry, or a file where a folder of the path should be
  Folder,
  File,
  Unknown  // could not be looked at (no permission on a folder of the path, an I/O error)
};

// What DeleteIfUnchanged did.
enum class DeleteOutcome {
  Deleted,  // the file was still the one expected, and now it is gone
  Missing,  // nothing stood at the path: the file was already gone
  Kept      // another file or a folder stands there, it could not be looked at, or the
            // deletion failed: nothing was deleted
};

// The file-system operations the program needs. Paths are absolute UTF-8 byte strings
// with the platform's separator (kNativePaths).
class FileServices {
 public:
  virtual ~FileServices() = default;
  // Never null: a folder that cannot be read gives an enumeration without entries.
  virtual std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) = 0;
  // What exists at a path, without following a final symbolic link (a link counts as a file).
  // A path that cannot be looked at is Unknown, never Nothing: a file behind a folder without
  // permissions still exists.
  virtual PathKind WhatExists(const std::string& path) = 0;
  // The status of what stands at a path, without following a final symbolic link.
  virtual std::optional<FileStatus> StatusOf(const std::string& path) = 0;
  // Null when the file cannot be opened.
  virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) = 0;
  // The same for a catalogued file, which opens what OpenForReading(location.Path()) would.
  // File services that keep its folder open during a reading session open it relative to
  // the folder, without joining the path or walking it again.
  virtual std::unique_ptr<ReadableFile> OpenCatalogued(const FileLocation& location) {
    return OpenForReading(location.Path());
  }
  // Removes the directory entry for good (unlink). False on failure.
  virtual bool Delete(const std::string& path) = 0;
  // Announces the files a search will open with OpenCatalogued, in any order, each at most
  // once. While the session lives, file services that can may keep the files' folders open
  // (and open the files relative to them) and fetch the starts of the files from the disk
  // ahead of the reader, in the order the data lies. Only speed depends on it: what
  // OpenCatalogued opens and reads stays the same. Null when there is nothing to gain. The
  // session is ended only once no other thread opens files any more.
  virtual std::unique_ptr<ReadingSession> StartReading(const ReadingPlan& /*plan*/) {
    return nullptr;
  }
  // Removes the file at a path only while it is still the regular file described by
  // `expected` (size, identity, modification time). A final symbolic link is never followed.
  // This version looks and then deletes by path; file services that can, close the gap
  // between the two.
  virtual DeleteOutcome DeleteIfUnchanged(const std::string& path, const FileStatus& expected) {
    const std::optional<FileStatus> now = StatusOf(path);
    if (!now) {
      return WhatExists(path) == PathKind::Nothing ? DeleteOutcome::Missing : DeleteOutcome::Kept;
    }
    if (*now != expected || WhatExists(path) != PathKind::File) {
      return DeleteOutcome::Kept;
    }
    if (Delete(path)) {
      return DeleteOutcome::Deleted;
    }
    return WhatExists(path) == PathKind::Nothing ? DeleteOutcome::Missing : DeleteOutcome::Kept;
  }
  // The folder `relative` ("a/b", components separated by "/") below the folder `root`: the
  // root is reached as StartEnumeration reaches it, and every folder below it without
  // following a symbolic link. Never null; a folder that cannot be reached gives an
  // enumeration without entries.
  virtual std::unique_ptr<DirectoryEnumeration> StartEnumerationBelow(const std::string& root,
                                                                      const std::string& relative) {
    std::unique_ptr<DirectoryEnumeration> folder = StartEnumeration(root);
    std::size_t start = 0;
    while (start < relative.size()) {
      std::size_t end = relative.find('/', start);
      if (end == std::string::npos) {
        end = relative.size();
      }
      if (end > start) {
        folder = folder->OpenSubfolder(relative.substr(start, end - start));
      }
      start = end + 1;
    }
    return folder;
  }
  // Whether OpenForReading, OpenCatalogued and the files they open may be used from several
  // threads at once (each file by one thread). Only then does a search read many small files side
  // by side.
  virtual bool ReadsConcurrently() const { return false; }
  // Whether enumerations may be used from two threads at once: one thread starting
  // enumerations (StartEnumeration, StartEnumerationBelow) and reading them, while another
  // opens subfolders (OpenSubfolder) of folders already read to their end, also of the same
  // enumeration as the first thread, and reads those. Next of one enumeration is never called
  // on two threads at once, nor while its subfolders are opened. Only then does a folder scan
  // list folders ahead on a second thread.
  virtual bool EnumeratesOnAnyThread() const { return false; }
};

}  // namespace kopiensieb

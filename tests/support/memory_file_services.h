#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_services.h"

namespace kopiensieb::testing {

// A file system in memory. Folders list their entries in the order they were made, so the
// order of a scan can be checked; files hold bytes and can be read and deleted. Nodes live in
// one pool, linked by index, so chains of any depth cost no recursion to build or destroy.
// Node 0 is the root "/". A file's identity is {kDevice, its node number}.
class MemoryFileServices final : public FileServices {
 public:
  static constexpr std::uint64_t kDevice = 7;

  MemoryFileServices();

  // Adds an entry below a folder node and returns its node number.
  int AddFolder(int parent, const std::string& name);
  // A file of `size` bytes (a pattern), or of these bytes.
  int AddFile(int parent, const std::string& name, std::int64_t size);
  int AddFileWithContent(int parent, const std::string& name, std::string content);
  // The node at a path ("/a/b"), -1 when there is none.
  int NodeAt(const std::string& path) const;

  // What the test watches and steers.
  std::vector<std::string> startedPaths;  // every StartEnumeration
  int openEnumerations = 0;
  int mostOpenEnumerations = 0;
  // Folders listed as folders that stand replaced by links when looked at or opened again.
  std::set<std::string> replacedByLinks;
  // Set: every path is this (Unknown: nothing may be looked at), whatever the tree holds.
  std::optional<PathKind> everyPathIs;
  // Set: a scan lists the folders on a thread of its own. The walk is then the only caller while
  // it runs, and what it changed above is read once the scan has returned.
  bool enumeratesOnAnyThread = true;

  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override;
  PathKind WhatExists(const std::string& path) override;
  std::optional<FileStatus> StatusOf(const std::string& path) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
  bool Delete(const std::string& path) override;
  // Below the root, a folder replaced by a link is not entered, wherever it stands on the way.
  std::unique_ptr<DirectoryEnumeration> StartEnumerationBelow(const std::string& root,
                                                              const std::string& relative) override;
  bool EnumeratesOnAnyThread() const override { return enumeratesOnAnyThread; }

 private:
  struct Node {
    std::string name;
    EntryKind kind = EntryKind::None;  // None: deleted
    std::string content;
    std::vector<int> children;
  };
  class Enumeration;
  class File;

  int AddNode(int parent, const std::string& name, EntryKind kind, std::string content);
  int Child(int node, const std::string& name) const;
  FileStatus StatusOfNode(int node) const;
  DirectoryEntry EntryOfNode(int node) const;

  std::vector<Node> nodes_;
  // A scan on two threads opens subfolders on both.
  std::mutex counting_;
};

}  // namespace kopiensieb::testing

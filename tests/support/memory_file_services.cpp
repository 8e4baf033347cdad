#include "memory_file_services.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace kopiensieb::testing {

class MemoryFileServices::Enumeration final : public DirectoryEnumeration {
 public:
  Enumeration(MemoryFileServices& files, int node) : files_(files), node_(node) {
    const std::lock_guard lock(files_.counting_);
    files_.mostOpenEnumerations = std::max(files_.mostOpenEnumerations, ++files_.openEnumerations);
  }
  ~Enumeration() override {
    const std::lock_guard lock(files_.counting_);
    --files_.openEnumerations;
  }
  Enumeration(const Enumeration&) = delete;
  Enumeration& operator=(const Enumeration&) = delete;

  DirectoryEntry Next() override {
    while (node_ >= 0 && next_ < files_.nodes_[node_].children.size()) {
      const int child = files_.nodes_[node_].children[next_++];
      if (files_.nodes_[child].kind != EntryKind::None) {
        return files_.EntryOfNode(child);
      }
    }
    return {};
  }
  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
    return std::make_unique<Enumeration>(files_, node_ < 0 ? -1 : files_.Child(node_, name));
  }

 private:
  MemoryFileServices& files_;
  int node_;
  std::size_t next_ = 0;
};

class MemoryFileServices::File final : public ReadableFile {
 public:
  File(std::string content, FileStatus status) : content_(std::move(content)), status_(status) {}

  std::int64_t Read(std::span<char> buffer) override {
    const auto left = static_cast<std::int64_t>(content_.size()) - position_;
    const std::int64_t count = std::min(left, static_cast<std::int64_t>(buffer.size()));
    if (count <= 0) {
      return 0;
    }
    std::memcpy(buffer.data(), content_.data() + position_, static_cast<std::size_t>(count));
    position_ += count;
    return count;
  }
  std::int64_t Position() const override { return position_; }
  std::optional<FileStatus> Status() const override { return status_; }

 private:
  std::string content_;
  FileStatus status_;
  std::int64_t position_ = 0;
};

MemoryFileServices::MemoryFileServices() {
  nodes_.push_back(Node{"", EntryKind::Folder, {}, {}});
}

int MemoryFileServices::AddFolder(int parent, const std::string& name) {
  return AddNode(parent, name, EntryKind::Folder, {});
}

int MemoryFileServices::AddFile(int parent, const std::string& name, std::int64_t size) {
  std::string content(static_cast<std::size_t>(size), '\0');
  for (std::size_t at = 0; at < content.size(); ++at) {
    content[at] = static_cast<char>('a' + at % 26);
  }
  return AddNode(parent, name, EntryKind::File, std::move(content));
}

int MemoryFileServices::AddFileWithContent(int parent, const std::string& name,
                                           std::string content) {
  return AddNode(parent, name, EntryKind::File, std::move(content));
}

int MemoryFileServices::AddNode(int parent, const std::string& name, EntryKind kind,
                                std::string content) {
  nodes_.push_back(Node{name, kind, std::move(content), {}});
  const int index = static_cast<int>(nodes_.size()) - 1;
  nodes_[parent].children.push_back(index);
  return index;
}

int MemoryFileServices::Child(int node, const std::string& name) const {
  for (const int child : nodes_[node].children) {
    if (nodes_[child].name == name && nodes_[child].kind != EntryKind::None) {
      return child;
    }
  }
  return -1;
}

int MemoryFileServices::NodeAt(const std::string& path) const {
  int node = 0;
  std::size_t position = 0;
  while (node >= 0 && position < path.size()) {
    if (nodes_[node].kind != EntryKind::Folder) {
      return -1;
    }
    const std::size_t slash = path.find('/', position);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > position) {
      node = Child(node, path.substr(position, end - position));
    }
    position = end + 1;
  }
  return node;
}

FileStatus MemoryFileServices::StatusOfNode(int node) const {
  const auto size = static_cast<std::int64_t>(nodes_[node].content.size());
  return FileStatus{size, FileIdentity{kDevice, static_cast<std::uint64_t>(node)}, 1000 + node};
}

DirectoryEntry MemoryFileServices::EntryOfNode(int node) const {
  DirectoryEntry entry;
  entry.kind = nodes_[node].kind;
  entry.name = nodes_[node].name;
  if (entry.kind == EntryKind::File) {
    entry.status = StatusOfNode(node);
  }
  return entry;
}

std::unique_ptr<DirectoryEnumeration> MemoryFileServices::StartEnumeration(
    const std::string& folder) {
  {
    const std::lock_guard lock(counting_);
    startedPaths.push_back(folder);
  }
  const int node = everyPathIs ? -1 : NodeAt(folder);
  const bool isFolder = node >= 0 && nodes_[node].kind == EntryKind::Folder;
  return std::make_unique<Enumeration>(*this, isFolder ? node : -1);
}

std::unique_ptr<DirectoryEnumeration> MemoryFileServices::StartEnumerationBelow(
    const std::string& root, const std::string& relative) {
  for (std::size_t slash = relative.find('/', 1); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    if (replacedByLinks.contains(root + relative.substr(0, slash))) {
      return std::make_unique<Enumeration>(*this, -1);
    }
  }
  const std::string path = root + relative;
  if (replacedByLinks.contains(path)) {
    return std::make_unique<Enumeration>(*this, -1);
  }
  return StartEnumeration(path);
}

PathKind MemoryFileServices::WhatExists(const std::string& path) {
  if (everyPathIs) {
    return *everyPathIs;
  }
  if (replacedByLinks.contains(path)) {
    return PathKind::File;  // a link counts as a file
  }
  const int node = NodeAt(path);
  if (node < 0) {
    return PathKind::Nothing;
  }
  return nodes_[node].kind == EntryKind::Folder ? PathKind::Folder : PathKind::File;
}

std::optional<FileStatus> MemoryFileServices::StatusOf(const std::string& path) {
  const int node = everyPathIs ? -1 : NodeAt(path);
  if (node < 0) {
    return std::nullopt;
  }
  return StatusOfNode(node);
}

std::unique_ptr<ReadableFile> MemoryFileServices::OpenForReading(const std::string& path) {
  const int node = everyPathIs ? -1 : NodeAt(path);
  if (node < 0 || nodes_[node].kind != EntryKind::File) {
    return nullptr;
  }
  return std::make_unique<File>(nodes_[node].content, StatusOfNode(node));
}

bool MemoryFileServices::Delete(const std::string& path) {
  const int node = everyPathIs ? -1 : NodeAt(path);
  if (node <= 0 || nodes_[node].kind != EntryKind::File) {
    return false;
  }
  nodes_[node].kind = EntryKind::None;
  nodes_[node].content.clear();
  return true;
}

}  // namespace kopiensieb::testing

#include "temp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kopiensieb::testing {
namespace {

[[noreturn]] void Fail(std::string_view what, std::string_view path) {
  throw std::runtime_error(std::string(what) + " " + std::string(path) + ": " +
                           std::strerror(errno));
}

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Fd old(std::exchange(fd_, std::exchange(other.fd_, -1)));
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::vector<std::string> SplitComponents(std::string_view relative) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) {
      end = relative.size();
    }
    if (end > start) {
      components.emplace_back(relative.substr(start, end - start));
    }
    start = end + 1;
  }
  return components;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Fd OpenFolderAt(int parent, const std::string& name, bool createMissing) {
  if (createMissing && ::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("mkdirat", name);
  }
  Fd fd(::openat(parent, name.c_str(), kFolderFlags));
  if (!fd.valid()) {
    Fail("openat", name);
  }
  return fd;
}

// The folder holding the last component, opened, and that component ("." for the root).
struct ParentAndLeaf {
  Fd parent;
  std::string leaf;
};

ParentAndLeaf OpenParent(const std::string& root, std::string_view relative, bool createMissing) {
  Fd folder(::open(root.c_str(), kFolderFlags));
  if (!folder.valid()) {
    Fail("open", root);
  }
  std::vector<std::string> components = SplitComponents(relative);
  if (components.empty()) {
    return {std::move(folder), "."};
  }
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    folder = OpenFolderAt(folder.get(), components[i], createMissing);
  }
  return {std::move(folder), components.back()};
}

void WriteAllAt(int fd, std::int64_t offset, std::string_view bytes, std::string_view path) {
  while (!bytes.empty()) {
    ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail("pwrite", path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += written;
  }
}

Fd OpenFileForWriting(const std::string& root, std::string_view relative, int extraFlags) {
  ParentAndLeaf where = OpenParent(root, relative, true);
  Fd fd(::openat(where.parent.get(), where.leaf.c_str(),
                 O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | extraFlags, 0644));
  if (!fd.valid()) {
    Fail("open for writing", relative);
  }
  return fd;
}

// Removes an entry of an open folder, a folder with everything inside. Best effort: used by
// the destructor too, which must not throw.
bool RemoveEntryAt(int parent, const std::string& name) {
  struct stat info {};
  if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (!S_ISDIR(info.st_mode)) {
    return ::unlinkat(parent, name.c_str(), 0) == 0;
  }
  // A test may have taken every permission away; give them back so the folder can be read.
  ::fchmodat(parent, name.c_str(), 0700, 0);
  bool removedAll = true;
  Fd folder(::openat(parent, name.c_str(), kFolderFlags));
  if (folder.valid()) {
    std::vector<std::string> children;
    DIR* listing = ::fdopendir(::dup(folder.get()));
    if (listing != nullptr) {
      while (dirent* entry = ::readdir(listing)) {
        std::string child = entry->d_name;
        if (child != "." && child != "..") {
          children.push_back(std::move(child));
        }
      }
      ::closedir(listing);
    }
    for (const std::string& child : children) {
      removedAll = RemoveEntryAt(folder.get(), child) && removedAll;
    }
  }
  return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 && removedAll;
}

std::string MakeTemporaryRoot() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  while (pattern.size() > 1 && pattern.back() == '/') {
    pattern.pop_back();
  }
  pattern += "/kopiensieb-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    Fail("mkdtemp", pattern);
  }
  return std::string(buffer.data());
}

}  // namespace

TempFolder::TempFolder() : root_(MakeTemporaryRoot()) {}

TempFolder::~TempFolder() {
  std::size_t slash = root_.rfind('/');
  std::string parentPath = slash == 0 ? "/" : root_.substr(0, slash);
  Fd parent(::open(parentPath.c_str(), kFolderFlags));
  if (parent.valid()) {
    RemoveEntryAt(parent.get(), root_.substr(slash + 1));
  }
}

std::string TempFolder::PathOf(std::string_view relative) const {
  std::string path = root_;
  for (const std::string& component : SplitComponents(relative)) {
    path.push_back('/');
    path += component;
  }
  return path;
}

std::string TempFolder::WriteFile(std::string_view relative, std::string_view bytes) {
  Fd fd = OpenFileForWriting(root_, relative, O_TRUNC);
  WriteAllAt(fd.get(), 0, bytes, relative);
  return PathOf(relative);
}

void TempFolder::WriteAt(std::string_view relative, std::int64_t offset, std::string_view bytes) {
  ParentAndLeaf where = OpenParent(root_, relative, false);
  Fd fd(::openat(where.parent.get(), where.leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    Fail("open for writing", relative);
  }
  WriteAllAt(fd.get(), offset, bytes, relative);
}

std::string TempFolder::Resize(std::string_view relative, std::int64_t size) {
  Fd fd = OpenFileForWriting(root_, relative, 0);
  if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
    Fail("ftruncate", relative);
  }
  return PathOf(relative);
}

std::string TempFolder::ReadFile(std::string_view relative) const {
  ParentAndLeaf where = OpenParent(root_, relative, false);
  Fd fd(::openat(where.parent.get(), where.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    Fail("open for reading", relative);
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail("read", relative);
    }
    if (got == 0) {
      return content;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string TempFolder::MakeFolder(std::string_view relative) {
  ParentAndLeaf where = OpenParent(root_, relative, true);
  if (::mkdirat(where.parent.get(), where.leaf.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("mkdirat", relative);
  }
  return PathOf(relative);
}

std::string TempFolder::MakeSymlink(std::string_view relative, std::string_view target) {
  ParentAndLeaf where = OpenParent(root_, relative, true);
  if (::symlinkat(std::string(target).c_str(), where.parent.get(), where.leaf.c_str()) != 0) {
    Fail("symlinkat", relative);
  }
  return PathOf(relative);
}

std::string TempFolder::MakeHardLink(std::string_view relative, std::string_view existing) {
  ParentAndLeaf from = OpenParent(root_, existing, false);
  ParentAndLeaf where = OpenParent(root_, relative, true);
  if (::linkat(from.parent.get(), from.leaf.c_str(), where.parent.get(), where.leaf.c_str(), 0) !=
      0) {
    Fail("linkat", relative);
  }
  return PathOf(relative);
}

std::string TempFolder::MakeFifo(std::string_view relative) {
  ParentAndLeaf where = OpenParent(root_, relative, true);
  if (::mkfifoat(where.parent.get(), where.leaf.c_str(), 0644) != 0) {
    Fail("mkfifoat", relative);
  }
  return PathOf(relative);
}

void TempFolder::SetMode(std::string_view relative, unsigned mode) {
  ParentAndLeaf where = OpenParent(root_, relative, false);
  if (::fchmodat(where.parent.get(), where.leaf.c_str(), static_cast<mode_t>(mode), 0) != 0) {
    Fail("fchmodat", relative);
  }
}

void TempFolder::SetModifiedNs(std::string_view relative, std::int64_t modifiedNs) {
  ParentAndLeaf where = OpenParent(root_, relative, false);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(modifiedNs / 1'000'000'000);
  times[1].tv_nsec = static_cast<long>(modifiedNs % 1'000'000'000);
  if (::utimensat(where.parent.get(), where.leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail("utimensat", relative);
  }
}

void TempFolder::Rename(std::string_view from, std::string_view to) {
  ParentAndLeaf source = OpenParent(root_, from, false);
  ParentAndLeaf target = OpenParent(root_, to, true);
  if (::renameat(source.parent.get(), source.leaf.c_str(), target.parent.get(),
                 target.leaf.c_str()) != 0) {
    Fail("renameat", from);
  }
}

bool TempFolder::Exists(std::string_view relative) const {
  try {
    ParentAndLeaf where = OpenParent(root_, relative, false);
    struct stat info {};
    return ::fstatat(where.parent.get(), where.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  } catch (const std::runtime_error&) {
    return false;
  }
}

void TempFolder::Remove(std::string_view relative) {
  ParentAndLeaf where = OpenParent(root_, relative, false);
  if (!RemoveEntryAt(where.parent.get(), where.leaf)) {
    Fail("remove", relative);
  }
}

std::string TempFolder::MakeDeepFolders(std::string_view relative, int levels,
                                        std::size_t nameLength, char fill) {
  MakeFolder(relative);
  ParentAndLeaf where = OpenParent(root_, relative, false);
  Fd folder = OpenFolderAt(where.parent.get(), where.leaf, false);
  std::string path(relative);
  const std::string name(nameLength, fill);
  for (int level = 0; level < levels; ++level) {
    folder = OpenFolderAt(folder.get(), name, true);
    path += "/" + name;
  }
  return path;
}

}  // namespace kopiensieb::testing

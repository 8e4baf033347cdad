#include "platform/posix/posix_file_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/parallel.h"

namespace kopiensieb {
namespace {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  void Reset() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  int fd_ = -1;
};

// O_NONBLOCK: should a folder entry have been swapped for a FIFO meanwhile, opening it must
// not wait for a writer (O_DIRECTORY refuses it anyway).
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
constexpr int kFileFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
// A folder below the chosen one: never a link, even one that replaced the folder a moment ago.
constexpr int kFolderBelowFlags = kFolderFlags | O_NOFOLLOW;
// For the folders on the way down: like the kernel's own lookup, this needs the permission to
// pass through a folder, not to read it.
constexpr int kPassThroughFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

using RaceHook = PosixFileServices::RaceHook;
using RacePoint = PosixFileServices::RacePoint;

void AtRacePoint(const RaceHook* hook, RacePoint point, const std::string& name) {
  if (hook != nullptr && *hook) {
    (*hook)(point, name);
  }
}

// Whether a failed lookup proves that nothing is there, rather than that nobody may look.
bool MeansNothingThere(int error) {
  return error == ENOENT || error == ENOTDIR;
}

std::int64_t ModifiedNs(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
         static_cast<std::int64_t>(info.st_mtim.tv_nsec);
}

FileStatus StatusFrom(const struct stat& info) {
  FileStatus status;
  status.size = static_cast<std::int64_t>(info.st_size);
  status.identity.device = static_cast<std::uint64_t>(info.st_dev);
  status.identity.inode = static_cast<std::uint64_t>(info.st_ino);
  status.modifiedNs = ModifiedNs(info);
  return status;
}

// Where a path's last component lives: a folder (an open descriptor, or the current folder
// for a path short enough to hand to the kernel whole) and the name to use relative to it.
struct Location {
  Fd folder;
  std::string name;
  bool found = false;    // false when a folder on the way could not be opened
  bool missing = false;  // not found because a folder on the way does not exist

  int FolderFd() const { return folder.Valid() ? folder.Get() : AT_FDCWD; }
};

std::vector<std::string> PathComponents(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > start) {
      components.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return components;
}

std::optional<struct stat> StatNoFollow(int folderFd, const std::string& name) {
  struct stat info {};
  if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return info;
}

// Whether a link stands at the name: a link on the way is not entered, but something is there,
// so a failed lookup through it proves nothing about the file.
bool IsLinkAt(int folderFd, const std::string& name) {
  const std::optional<struct stat> info = StatNoFollow(folderFd, name);
  return info && S_ISLNK(info->st_mode);
}

Location Locate(const std::string& path) {
  Location location;
  if (path.empty()) {
    location.name = "/";
    location.found = true;
    return location;
  }
  if (path.size() < PATH_MAX) {
    location.name = path;
    location.found = true;
    return location;
  }
  // Too long for the kernel in one piece: walk it, entering no link on the way.
  std::vector<std::string> components = PathComponents(path);
  if (components.empty()) {
    location.name = "/";
    location.found = true;
    return location;
  }
  Fd folder(::open(path.front() == '/' ? "/" : ".", kPassThroughFlags));
  if (!folder.Valid()) {
    location.missing = MeansNothingThere(errno);
    return location;
  }
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    Fd next(::openat(folder.Get(), components[i].c_str(), kPassThroughFlags | O_NOFOLLOW));
    if (!next.Valid()) {
      location.missing = MeansNothingThere(errno) && !IsLinkAt(folder.Get(), components[i]);
      return location;
    }
    folder = std::move(next);
  }
  location.folder = std::move(folder);
  location.name = components.back();
  location.found = true;
  return location;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// One folder level, held open by its descriptor so that subfolders and entries are reached
// relative to it.
class PosixEnumeration final : public DirectoryEnumeration {
 public:
  PosixEnumeration(std::unique_ptr<DIR, DirCloser> dir, const RaceHook* hook)
      : dir_(std::move(dir)), hook_(hook) {}

  DirectoryEntry Next() override {
    if (ended_) {
      return {};
    }
    for (;;) {
      errno = 0;
      const dirent* raw = ::readdir(dir_.get());
      if (raw == nullptr) {
        // The end, or a folder that failed while being read: either way no more entries.
        // The folder stays open: its subfolders may still be asked for.
        ended_ = true;
        return {};
      }
      std::string name = raw->d_name;
      if (name == "." || name == "..") {
        continue;
      }
      if (std::optional<DirectoryEntry> entry = Classify(std::move(name), raw->d_type)) {
        return *std::move(entry);
      }
    }
  }

  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
    AtRacePoint(hook_, RacePoint::BeforeOpenSubfolder, name);
    return EnumerationOf(Fd(::openat(::dirfd(dir_.get()), name.c_str(), kFolderBelowFlags)), hook_);
  }

  static std::unique_ptr<DirectoryEnumeration> EnumerationOf(Fd folder, const RaceHook* hook) {
    if (!folder.Valid()) {
      return std::make_unique<EmptyEnumeration>();
    }
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(folder.Get()));
    if (!dir) {
      return std::make_unique<EmptyEnumeration>();
    }
    folder.Release();  // the DIR owns it now
    return std::make_unique<PosixEnumeration>(std::move(dir), hook);
  }

 private:
  // Files and folders are reported; links, FIFOs, sockets, devices and entries that vanished
  // meanwhile are not.
  std::optional<DirectoryEntry> Classify(std::string name, unsigned char type) {
    if (type == DT_DIR) {
      return DirectoryEntry{EntryKind::Folder, std::move(name), {}};
    }
    if (type != DT_REG && type != DT_UNKNOWN) {
      return std::nullopt;
    }
    std::optional<struct stat> info = StatNoFollow(::dirfd(dir_.get()), name);
    if (!info) {
      return std::nullopt;
    }
    if (S_ISREG(info->st_mode)) {
      return DirectoryEntry{EntryKind::File, std::move(name), StatusFrom(*info)};
    }
    if (S_ISDIR(info->st_mode)) {
      return DirectoryEntry{EntryKind::Folder, std::move(name), {}};
    }
    return std::nullopt;
  }

  std::unique_ptr<DIR, DirCloser> dir_;  // never null
  const RaceHook* hook_;                 // the services' hook; they outlive their enumerations
  bool ended_ = false;
};

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(Fd fd, const FileStatus& opened) : fd_(std::move(fd)), opened_(opened) {}

  // At the file's own position, so that skipping needs no system call.
  std::int64_t Read(std::span<char> buffer) override {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      ssize_t got = ::pread(fd_.Get(), buffer.data() + filled, buffer.size() - filled,
                            static_cast<off_t>(position_ + static_cast<std::int64_t>(filled)));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;  // the end, or an error: the caller sees fewer bytes than asked
      }
      filled += static_cast<std::size_t>(got);
    }
    position_ += static_cast<std::int64_t>(filled);
    return static_cast<std::int64_t>(filled);
  }

  std::int64_t Position() const override { return position_; }

  // As with reading, a target beyond the end stops at the end and fails: the size now, not at
  // the open, so that a file that shrank since cannot be skipped into.
  bool SkipTo(std::int64_t position) override {
    if (position < position_) {
      return false;
    }
    struct stat info {};
    if (::fstat(fd_.Get(), &info) != 0) {
      return false;
    }
    position_ = std::min(position, std::max(static_cast<std::int64_t>(info.st_size), position_));
    return position_ == position;
  }

  // Taken once when the file was opened: a search opens tens of thousands of small files, and
  // a file that changes afterwards shows it by reading short.
  std::optional<FileStatus> Status() const override { return opened_; }

 private:
  Fd fd_;
  FileStatus opened_;
  std::int64_t position_ = 0;
};

std::unique_ptr<ReadableFile> OpenRegularFile(int folderFd, const char* name);

struct SplitPath {
  std::string folder;
  std::string name;
};

// A path's folder and last name, where the name can be opened relative to the folder as the
// whole path would be opened.
std::optional<SplitPath> SplitAtLastFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) {
    return std::nullopt;
  }
  SplitPath split{path.substr(0, slash), path.substr(slash + 1)};
  if (split.name == "." || split.name == "..") {
    return std::nullopt;
  }
  return split;
}

// Opens a folder for lookups below it as a path walk would reach it: links on the way and at
// its end are followed, only the permission to pass through is needed. Invalid on failure.
Fd OpenFolderForLookups(const std::string& folder) {
  Location location = Locate(folder);
  if (!location.found) {
    return Fd();
  }
  return Fd(::openat(location.FolderFd(), location.name.c_str(), kPassThroughFlags));
}

rlim_t OpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 1024;
  }
  return limit.rlim_cur;
}

// Whether the disk behind a device spins (seeks cost milliseconds). Unknown counts as not.
bool OnRotatingDisk(std::uint64_t device) {
  const std::string base =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  // A partition has no queue of its own; its disk's is one folder up.
  for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
    std::ifstream in(base + queue);
    int rotational = 0;
    if (in >> rotational) {
      return rotational != 0;
    }
  }
  return false;
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return;
  }
  // An unlimited hard limit cannot become the soft one (the kernel caps it at fs.nr_open,
  // 1,048,576 by default); a million open folders is depth enough.
  constexpr rlim_t kEnough = 1 << 20;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? kEnough : std::min(limit.rlim_max, kEnough);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    ::setrlimit(RLIMIT_NOFILE, &limit);  // best effort: a refusal only keeps the old limit
  }
}

}  // namespace

// Open folders by their path text, shared by the threads of one reading session. The folders
// are spread over shards by the hash of their text, each under its own lock, so that threads
// opening files of different folders seldom wait for each other. A folder once kept stays
// open until the session ends, so its descriptor is handed out without counting its users;
// once as many folders as the session may hold are open, further ones are not kept.
//
// Locations that carry a folder number of the session's plan find their folder's descriptor
// in a table by that number, without hashing or a lock: the first thread to claim a number
// looks the folder up by its text as above and notes the descriptor there, and meanwhile the
// others look it up themselves. A folder under several numbers is still kept once.
class PosixFileServices::FolderDescriptors {
 public:
  FolderDescriptors(std::size_t capacity, std::uint32_t numbers)
      : capacityPerShard_(std::max<std::size_t>(capacity / kShards, 1)),
        numbered_(std::make_unique<Numbered[]>(numbers)),
        numbers_(numbers) {}

  // The descriptor of the location's folder, valid while the session lives; -1 when the folder
  // cannot be opened or kept (the caller then walks the whole path as usual).
  int Get(const FileLocation& location) {
    if (location.folderNumber < numbers_) {
      return GetNumbered(location);
    }
    return Get(location.folder);
  }

  int Get(std::string_view folder) {
    Shard& shard = shards_[TextHash{}(folder) % kShards];
    {
      const std::scoped_lock lock(shard.guard);
      if (auto found = shard.open.find(folder); found != shard.open.end()) {
        return found->second.Get();
      }
      if (shard.open.size() >= capacityPerShard_) {
        return -1;
      }
    }
    Fd opened = OpenFolderForLookups(std::string(folder));
    if (!opened.Valid()) {
      return -1;
    }
    const std::scoped_lock lock(shard.guard);
    // Another thread may have opened it meanwhile: its descriptor is kept, this one closed.
    return shard.open.try_emplace(std::string(folder), std::move(opened)).first->second.Get();
  }

 private:
  static constexpr std::size_t kShards = 16;
  // What a numbered slot holds.
  static constexpr std::uint8_t kUnclaimed = 0;
  static constexpr std::uint8_t kClaimed = 1;  // a thread is looking its folder up
  static constexpr std::uint8_t kNoted = 2;    // fd (which may be -1) and folder are set

  struct Numbered {
    std::atomic<std::uint8_t> state{kUnclaimed};
    int fd = -1;              // a descriptor the shards own, or -1
    std::string_view folder;  // the text it was looked up for, viewed in the catalogue
  };

  // Looked up by a view of the catalogue's folder text, without copying it.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  struct Shard {
    std::mutex guard;
    std::unordered_map<std::string, Fd, TextHash, std::equal_to<>> open;
  };

  int GetNumbered(const FileLocation& location) {
    Numbered& slot = numbered_[location.folderNumber];
    std::uint8_t state = slot.state.load(std::memory_order_acquire);
    if (state == kUnclaimed &&
        slot.state.compare_exchange_strong(state, kClaimed, std::memory_order_acq_rel)) {
      slot.fd = Get(location.folder);
      slot.folder = location.folder;
      slot.state.store(kNoted, std::memory_order_release);
      return slot.fd;
    }
    // The number only points the way: a location numbered wrongly must not open a file of
    // another folder.
    if (state == kNoted && slot.folder == location.folder) {
      return slot.fd;
    }
    return Get(location.folder);
  }

  std::array<Shard, kShards> shards_;
  std::size_t capacityPerShard_;
  std::unique_ptr<Numbered[]> numbered_;
  std::uint32_t numbers_;
};

namespace {

// A name that openat takes relative to its folder exactly as the full path would reach it: one
// component, not "." or "..", short enough to be a name at all.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name.size() <= NAME_MAX && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// The name with the terminating zero the kernel needs, on the stack.
class NameText {
 public:
  explicit NameText(std::string_view name) {
    std::copy(name.begin(), name.end(), text_.begin());
    text_[name.size()] = '\0';
  }
  const char* Get() const { return text_.data(); }

 private:
  std::array<char, NAME_MAX + 1> text_;  // filled up to the zero by the constructor
};

}  // namespace

namespace {

// Whether the page that holds the file's first byte is in the page cache. (A read that must
// not wait, RWF_NOWAIT, would tell the same more simply, but some file systems refuse it even
// for cached pages.)
bool FirstByteInMemory(int fd) {
  const long page = ::sysconf(_SC_PAGESIZE);
  void* mapped = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_READ, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) {
    return false;
  }
  unsigned char resident = 0;
  const bool known = ::mincore(mapped, static_cast<std::size_t>(page), &resident) == 0;
  ::munmap(mapped, static_cast<std::size_t>(page));
  return known && (resident & 1) != 0;
}

// A planned file, relative to its kept folder, or by its path where the session keeps no
// more folders: every planned file is fetched, however many folders the plan has.
Fd OpenPlanned(PosixFileServices::FolderDescriptors& folders, const PlannedRead& read) {
  if (IsPlainName(read.location.name)) {
    if (const int folder = folders.Get(read.location); folder >= 0) {
      return Fd(::openat(folder, NameText(read.location.name).Get(), kFileFlags));
    }
  }
  Location location = Locate(read.location.Path());
  if (!location.found) {
    return Fd();
  }
  return Fd(::openat(location.FolderFd(), location.name.c_str(), kFileFlags));
}

// How long reading the first page of a file that is not in memory took, in microseconds; a
// read that failed, and so told nothing of the disk, counts as slow.
std::int64_t FirstPageReadMicroseconds(int fd) {
  std::array<char, 4096> page{};
  const auto start = std::chrono::steady_clock::now();
  if (::pread(fd, page.data(), page.size(), 0) <= 0) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// What a sample spread over the plan tells of it.
struct PlanSample {
  // Fetching the planned files would only take the CPU from the readers.
  bool inMemory = true;
  // The first pages of the sampled files on disk came as no seeking disk delivers them.
  bool quickFirstReads = false;
};

PlanSample SamplePlan(PosixFileServices::FolderDescriptors& folders, const ReadingPlan& plan) {
  // Files looked at, and how many of them may be on disk only for the plan to count as in
  // memory: the first pages of those few are read and timed. A disk head moves in
  // milliseconds; flash, and storage in front of it, answers in a fraction of one.
  constexpr std::size_t kSample = 32;
  constexpr std::size_t kSampleOnDisk = 2;
  constexpr std::int64_t kQuickFirstReadMicroseconds = 500;
  const std::size_t count = plan.Count();
  const std::size_t step = std::max<std::size_t>(count / kSample, 1);
  std::array<std::int64_t, kSampleOnDisk + 1> timed{};
  std::size_t onDisk = 0;
  for (std::size_t at = 0; at < count; at += step) {
    const Fd file = OpenPlanned(folders, plan.At(at));
    if (!file.Valid() || FirstByteInMemory(file.Get())) {
      continue;
    }
    timed[onDisk] = FirstPageReadMicroseconds(file.Get());
    if (++onDisk > kSampleOnDisk) {
      std::sort(timed.begin(), timed.end());
      return PlanSample{.inMemory = false,
                        .quickFirstReads = timed[timed.size() / 2] < kQuickFirstReadMicroseconds};
    }
  }
  return PlanSample{};
}

// Fetches the starts of the planned files ahead of the readers: opens them in inode order
// (inodes and data of one file system are laid out roughly alike) and asks the kernel to read
// their first bytes in the background, on as many threads as the disk is worth, and tells the
// search how many readers it is worth.
class Prefetch final : public ReadingSession {
 public:
  Prefetch(PosixFileServices& files, std::shared_ptr<PosixFileServices::FolderDescriptors> folders,
           std::vector<PlannedRead> reads, std::size_t threads, std::size_t readers)
      : files_(files), folders_(std::move(folders)), reads_(std::move(reads)), readers_(readers) {
    for (std::size_t thread = 0; thread < threads; ++thread) {
      threads_.emplace_back([this](const std::stop_token& stop) { Run(stop); });
    }
  }
  ~Prefetch() override {
    for (std::jthread& thread : threads_) {
      thread.request_stop();
    }
    threads_.clear();  // joins
    files_.EndReading();
  }
  Prefetch(const Prefetch&) = delete;
  Prefetch& operator=(const Prefetch&) = delete;

  std::size_t ReadersWorthRunning() const override { return readers_; }
  // Nothing to fetch is what a plan found in memory leaves.
  bool PlanInMemory() const override { return reads_.empty(); }

 private:
  void Run(const std::stop_token& stop) {
    for (std::size_t at = next_++; at < reads_.size() && !stop.stop_requested(); at = next_++) {
      const Fd file = OpenPlanned(*folders_, reads_[at]);
      if (file.Valid()) {
        ::posix_fadvise(file.Get(), 0, static_cast<off_t>(reads_[at].startBytes),
                        POSIX_FADV_WILLNEED);
      }
    }
  }

  PosixFileServices& files_;
  std::shared_ptr<PosixFileServices::FolderDescriptors> folders_;
  std::vector<PlannedRead> reads_;
  std::size_t readers_;
  std::atomic<std::size_t> next_{0};
  std::vector<std::jthread> threads_;  // last: they stop before the rest goes
};

// Threads that open files ahead of the readers on a disk that does not seek, and readers that
// keep the queue of a disk that answers quickly busy with whole files. Each reader streams the
// files of one size class; a virtio disk read 5,000 files of 50 KB to 3 MB about a tenth faster
// with eight readers than with four, and no faster with sixteen, which held 18 MB more buffers.
constexpr std::size_t kPrefetchThreads = 6;
constexpr std::size_t kReadersFromQuickDisk = 8;
// Folders a reading session keeps open at most (a tree of a million files has about 90,000).
constexpr std::size_t kMostKeptFolders = std::size_t{1} << 18;
// Descriptors a session may hold besides its folders: the files its readers hold open at once
// (as many as the search's reading limits let one reader open) and those its prefetch threads
// open one at a time.
constexpr std::size_t kFilesOpenPerReader = 256;
constexpr std::size_t kDescriptorsBesideReaders = 64;
constexpr std::size_t kDescriptorsBesideFolders =
    kReadersFromQuickDisk * kFilesOpenPerReader + kDescriptorsBesideReaders;

// At most `wanted` readers, as many as fit beside the open folders (at most half of `limit`):
// a reader refused a descriptor would take a readable file for unreadable.
std::size_t ReadersWithin(rlim_t limit, std::size_t wanted) {
  if (limit == RLIM_INFINITY) {
    return wanted;
  }
  const rlim_t beside = limit - limit / 2;
  const rlim_t fit = beside > kDescriptorsBesideReaders
                         ? (beside - kDescriptorsBesideReaders) / kFilesOpenPerReader
                         : 0;
  return static_cast<std::size_t>(std::clamp<rlim_t>(fit, 1, wanted));
}

// Makes room in the process's descriptor table up to descriptor number `highest` at once. The
// kernel grows the table by doubling as descriptors are opened, and while other threads run,
// each growth waits for an RCU grace period (several milliseconds in a virtual machine) with
// every thread that opens a file waiting behind it: a session keeping thousands of folders
// open would otherwise pay a dozen of those waits. The table never shrinks.
void ReserveDescriptors(std::size_t highest) {
  const Fd probe(::open("/", O_PATH | O_CLOEXEC));
  if (!probe.Valid()) {
    return;
  }
  const Fd far(::fcntl(probe.Get(), F_DUPFD_CLOEXEC, static_cast<int>(highest)));
  // Best effort: a refusal only leaves the table to grow as it is used.
}

}  // namespace

std::unique_ptr<ReadingSession> PosixFileServices::StartReading(const ReadingPlan& plan) {
  if (plan.Count() == 0) {
    return nullptr;
  }
  // The scan holds one folder per level and the readers up to a few hundred files; the open
  // folders take at most half of what is left.
  const rlim_t limit = OpenFileLimit();
  const std::size_t capacity =
      limit == RLIM_INFINITY
          ? kMostKeptFolders
          : static_cast<std::size_t>(std::min<rlim_t>(limit / 2, kMostKeptFolders));
  const std::size_t descriptors =
      std::min<std::size_t>(capacity, plan.FolderNumbers()) + kDescriptorsBesideFolders;
  ReserveDescriptors(limit == RLIM_INFINITY
                         ? descriptors
                         : std::min<std::size_t>(descriptors, static_cast<std::size_t>(limit) - 1));
  auto folders = std::make_shared<FolderDescriptors>(capacity, plan.FolderNumbers());
  SetFolders(folders);
  const PlanSample sample = SamplePlan(*folders, plan);
  if (sample.inMemory) {
    // Nothing to fetch: the folders are kept open, and the readers follow the cores.
    return std::make_unique<Prefetch>(*this, std::move(folders), std::vector<PlannedRead>{}, 0,
                                      ReadersWithin(limit, ReaderThreadsForThisMachine()));
  }
  std::vector<PlannedRead> reads;
  reads.reserve(plan.Count());
  for (std::size_t at = 0; at < plan.Count(); ++at) {
    reads.push_back(plan.At(at));
  }
  std::sort(reads.begin(), reads.end(), [](const PlannedRead& left, const PlannedRead& right) {
    return std::tie(left.identity.device, left.identity.inode) <
           std::tie(right.identity.device, right.identity.inode);
  });
  // A disk that says it spins gets one prefetch thread, so that its head moves one way. Its
  // readers follow how it answered: some virtual disks say they spin, yet read several large
  // files at once much faster than one.
  const bool rotating = OnRotatingDisk(reads.front().identity.device);
  const bool seeks = rotating && !sample.quickFirstReads;
  return std::make_unique<Prefetch>(*this, std::move(folders), std::move(reads),
                                    rotating ? 1 : kPrefetchThreads,
                                    seeks ? 1 : ReadersWithin(limit, kReadersFromQuickDisk));
}

PosixFileServices::FolderDescriptors* PosixFileServices::Folders() const {
  return folders_.load(std::memory_order_acquire);
}

void PosixFileServices::SetFolders(std::shared_ptr<FolderDescriptors> folders) {
  folders_.store(folders.get(), std::memory_order_release);
}

void PosixFileServices::EndReading() {
  SetFolders(nullptr);
}

PosixFileServices::PosixFileServices() {
  RaiseOpenFileLimit();
}

std::unique_ptr<DirectoryEnumeration> PosixFileServices::StartEnumeration(
    const std::string& folder) {
  Location location = Locate(folder);
  if (!location.found) {
    return std::make_unique<EmptyEnumeration>();
  }
  // The chosen folder itself may be reached through a link; below it, links are not followed.
  return PosixEnumeration::EnumerationOf(
      Fd(::openat(location.FolderFd(), location.name.c_str(), kFolderFlags)), &raceHook_);
}

std::unique_ptr<DirectoryEnumeration> PosixFileServices::StartEnumerationBelow(
    const std::string& root, const std::string& relative) {
  const std::vector<std::string> components = PathComponents(relative);
  if (components.empty()) {
    return StartEnumeration(root);
  }
  Location location = Locate(root);
  if (!location.found) {
    return std::make_unique<EmptyEnumeration>();
  }
  // The root as StartEnumeration reaches it; every folder below it without following a link.
  Fd folder(::openat(location.FolderFd(), location.name.c_str(), kPassThroughFlags));
  for (std::size_t i = 0; folder.Valid() && i < components.size(); ++i) {
    AtRacePoint(&raceHook_, RacePoint::BeforeOpenSubfolder, components[i]);
    const int flags =
        i + 1 < components.size() ? kPassThroughFlags | O_NOFOLLOW : kFolderBelowFlags;
    folder = Fd(::openat(folder.Get(), components[i].c_str(), flags));
  }
  return PosixEnumeration::EnumerationOf(std::move(folder), &raceHook_);
}

PathKind PosixFileServices::WhatExists(const std::string& path) {
  Location location = Locate(path);
  if (!location.found) {
    return location.missing ? PathKind::Nothing : PathKind::Unknown;
  }
  std::optional<struct stat> info = StatNoFollow(location.FolderFd(), location.name);
  if (!info) {
    return MeansNothingThere(errno) ? PathKind::Nothing : PathKind::Unknown;
  }
  return S_ISDIR(info->st_mode) ? PathKind::Folder : PathKind::File;
}

std::optional<FileStatus> PosixFileServices::StatusOf(const std::string& path) {
  Location location = Locate(path);
  if (!location.found) {
    return std::nullopt;
  }
  std::optional<struct stat> info = StatNoFollow(location.FolderFd(), location.name);
  if (!info) {
    return std::nullopt;
  }
  return StatusFrom(*info);
}

std::unique_ptr<ReadableFile> PosixFileServices::OpenForReading(const std::string& path) {
  if (FolderDescriptors* folders = Folders()) {
    if (std::optional<SplitPath> split = SplitAtLastFolder(path)) {
      if (const int folder = folders->Get(split->folder); folder >= 0) {
        return OpenRegularFile(folder, split->name.c_str());
      }
    }
  }
  return OpenByPath(path);
}

std::unique_ptr<ReadableFile> PosixFileServices::OpenCatalogued(const FileLocation& location) {
  if (FolderDescriptors* folders = Folders()) {
    if (IsPlainName(location.name)) {
      if (const int folder = folders->Get(location); folder >= 0) {
        return OpenRegularFile(folder, NameText(location.name).Get());
      }
    }
  }
  return OpenByPath(location.Path());
}

std::unique_ptr<ReadableFile> PosixFileServices::OpenByPath(const std::string& path) {
  Location location = Locate(path);
  if (!location.found) {
    return nullptr;
  }
  return OpenRegularFile(location.FolderFd(), location.name.c_str());
}

namespace {

std::unique_ptr<ReadableFile> OpenRegularFile(int folderFd, const char* name) {
  // O_NONBLOCK so that a FIFO put in a file's place cannot make the open wait for a writer;
  // anything that is not a regular file is refused right after.
  Fd fd(::openat(folderFd, name, kFileFlags));
  if (!fd.Valid()) {
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  // O_NONBLOCK stays set: it has no effect on reading a regular file, and clearing it would
  // cost two more system calls per file.
  constexpr off_t kWorthAdvising = 256 * 1024;
  if (info.st_size >= kWorthAdvising) {
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return std::make_unique<PosixReadableFile>(std::move(fd), StatusFrom(info));
}

}  // namespace

bool PosixFileServices::Delete(const std::string& path) {
  Location location = Locate(path);
  return location.found && ::unlinkat(location.FolderFd(), location.name.c_str(), 0) == 0;
}

namespace {

bool IsExpectedFile(const std::optional<struct stat>& info, const FileStatus& expected) {
  return info && S_ISREG(info->st_mode) && StatusFrom(*info) == expected;
}

DeleteOutcome OutcomeOfFailedLook(int error) {
  return MeansNothingThere(error) ? DeleteOutcome::Missing : DeleteOutcome::Kept;
}

// Deletes by name where the file system cannot move a file aside without replacing another:
// the look and the deletion then go through the same folder descriptor, one call apart.
DeleteOutcome UnlinkLookedAt(int folderFd, const std::string& name) {
  if (::unlinkat(folderFd, name.c_str(), 0) == 0) {
    return DeleteOutcome::Deleted;
  }
  return OutcomeOfFailedLook(errno);
}

}  // namespace

DeleteOutcome PosixFileServices::DeleteIfUnchanged(const std::string& path,
                                                   const FileStatus& expected) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) {
    return DeleteOutcome::Kept;  // no file name: nothing the program catalogued
  }
  const std::string name = path.substr(slash + 1);
  // The folder is held open from the look to the deletion, so both act in the same folder
  // whatever happens to the path meanwhile. The folder itself may be reached through a link
  // (the chosen folder may be one); the file never is.
  Location location = Locate(path.substr(0, slash));
  if (!location.found) {
    return location.missing ? DeleteOutcome::Missing : DeleteOutcome::Kept;
  }
  // A long path was walked entering no link; its last folder is no exception.
  const int flags = location.folder.Valid() ? kPassThroughFlags | O_NOFOLLOW : kPassThroughFlags;
  const Fd folder(::openat(location.FolderFd(), location.name.c_str(), flags));
  if (!folder.Valid()) {
    if (location.folder.Valid() && IsLinkAt(location.FolderFd(), location.name)) {
      return DeleteOutcome::Kept;
    }
    return OutcomeOfFailedLook(errno);
  }
  const std::optional<struct stat> before = StatNoFollow(folder.Get(), name);
  if (!before) {
    return OutcomeOfFailedLook(errno);
  }
  if (!IsExpectedFile(before, expected)) {
    return DeleteOutcome::Kept;
  }
  AtRacePoint(&raceHook_, RacePoint::BeforeDelete, name);

  // Another file may have been renamed over the name since the look. So the entry is first
  // moved aside under a name of its own (atomically, replacing nothing), looked at again
  // there, and only then deleted: what is deleted is exactly what was looked at.
  std::string aside;
  bool moved = false;
  for (int attempt = 0; attempt < 16 && !moved; ++attempt) {
    aside = ".kopiensieb-" + std::to_string(::getpid()) + "-" +
            std::to_string(expected.identity.inode) + "-" + std::to_string(attempt);
    if (::renameat2(folder.Get(), name.c_str(), folder.Get(), aside.c_str(), RENAME_NOREPLACE) ==
        0) {
      moved = true;
    } else if (errno == EINVAL || errno == ENOSYS) {
      return UnlinkLookedAt(folder.Get(), name);  // no RENAME_NOREPLACE here
    } else if (errno != EEXIST) {
      return OutcomeOfFailedLook(errno);
    }
  }
  if (!moved) {
    return DeleteOutcome::Kept;
  }
  if (IsExpectedFile(StatNoFollow(folder.Get(), aside), expected) &&
      ::unlinkat(folder.Get(), aside.c_str(), 0) == 0) {
    return DeleteOutcome::Deleted;
  }
  // Not the file that was looked at: back under its name. Should yet another entry have taken
  // the name meanwhile, this one stays under the other name rather than replace it.
  ::renameat2(folder.Get(), aside.c_str(), folder.Get(), name.c_str(), RENAME_NOREPLACE);
  return DeleteOutcome::Kept;
}

}  // namespace kopiensieb

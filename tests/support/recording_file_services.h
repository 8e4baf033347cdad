#pragma once

// File services on the real file system that log what the code under test did with the files
// (which paths it opened, in order, and every byte range it read), can make a file fail part
// way, and can act before each read (to change a file while it is being read).

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/native_file_services.h"

namespace kopiensieb::testing {

// What was done to one path, over all its opens.
struct PathLog {
  int opens = 0;
  int readCalls = 0;
  std::int64_t bytesRead = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // [from, to) of every read

  // Whether two reads covered the same byte.
  bool AnyByteReadTwice() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> sorted = ranges;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t at = 1; at < sorted.size(); ++at) {
      if (sorted[at].first < sorted[at - 1].second) {
        return true;
      }
    }
    return false;
  }
};

// Counts the files open at once and can act before each read.
struct OpenFileWatch {
  int openNow = 0;
  int peakOpen = 0;
  std::function<void(const std::string& path, std::int64_t from)> beforeRead;
};

class LoggingFile final : public ReadableFile {
 public:
  // failAfter < 0: never fails; otherwise the file delivers that many bytes per open and
  // then reads as if it ended (a read error: less than its size says).
  LoggingFile(std::unique_ptr<ReadableFile> inner, PathLog& log, OpenFileWatch& watch,
              std::mutex& watchGuard, std::string path, std::int64_t failAfter)
      : inner_(std::move(inner)),
        log_(log),
        watch_(watch),
        watchGuard_(watchGuard),
        path_(std::move(path)),
        failAfter_(failAfter) {
    const std::scoped_lock lock(watchGuard_);
    watch_.peakOpen = std::max(watch_.peakOpen, ++watch_.openNow);
  }
  ~LoggingFile() override {
    const std::scoped_lock lock(watchGuard_);
    --watch_.openNow;
  }
  LoggingFile(const LoggingFile&) = delete;
  LoggingFile& operator=(const LoggingFile&) = delete;

  std::int64_t Read(std::span<char> buffer) override {
    ++log_.readCalls;
    const std::int64_t from = inner_->Position();
    if (watch_.beforeRead) {
      watch_.beforeRead(path_, from);
    }
    if (failAfter_ >= 0) {
      const std::int64_t allowed = std::max<std::int64_t>(failAfter_ - delivered_, 0);
      buffer = buffer.first(std::min(buffer.size(), static_cast<std::size_t>(allowed)));
      if (buffer.empty()) {
        return 0;
      }
    }
    const std::int64_t got = inner_->Read(buffer);
    if (got > 0) {
      delivered_ += got;
      log_.bytesRead += got;
      log_.ranges.emplace_back(from, from + got);
    }
    return got;
  }
  std::int64_t Position() const override { return inner_->Position(); }
  // A seek of the real file, not a read: skipped bytes are not read.
  bool SkipTo(std::int64_t position) override { return inner_->SkipTo(position); }
  std::optional<FileStatus> Status() const override { return inner_->Status(); }

 private:
  std::unique_ptr<ReadableFile> inner_;
  PathLog& log_;
  OpenFileWatch& watch_;
  std::mutex& watchGuard_;
  std::string path_;
  std::int64_t failAfter_;
  std::int64_t delivered_ = 0;
};

// With `concurrent` set, files may be opened from several threads at once (each path's log is
// then written by one thread at a time, as the search reads each file by one thread); the
// maps must not be looked at until the threads are done.
class LoggingFileServices final : public FileServices {
 public:
  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override {
    return inner_.StartEnumeration(folder);
  }
  PathKind WhatExists(const std::string& path) override { return inner_.WhatExists(path); }
  std::optional<FileStatus> StatusOf(const std::string& path) override {
    return inner_.StatusOf(path);
  }
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
    std::unique_lock lock(guard_);
    PathLog& log = logs[path];
    ++log.opens;
    ++totalOpens;
    opened.push_back(path);
    const auto failing = failAfter.find(path);
    const std::int64_t failAt = failing == failAfter.end() ? -1 : failing->second;
    lock.unlock();
    std::unique_ptr<ReadableFile> file = inner_.OpenForReading(path);
    if (!file) {
      return nullptr;
    }
    return std::make_unique<LoggingFile>(std::move(file), log, watch, watchGuard_, path, failAt);
  }
  bool Delete(const std::string& path) override { return inner_.Delete(path); }
  // Logs the plan and hands it on, so that the reading goes through the real session; with
  // planInMemory set, the session says that instead of what it found.
  std::unique_ptr<ReadingSession> StartReading(const ReadingPlan& plan) override {
    for (std::size_t at = 0; at < plan.Count(); ++at) {
      planned.push_back(plan.At(at));
    }
    std::unique_ptr<ReadingSession> session = inner_.StartReading(plan);
    if (!planInMemory) {
      return session;
    }
    return std::make_unique<SessionInMemory>(std::move(session), *planInMemory);
  }
  bool ReadsConcurrently() const override { return concurrent; }

  std::map<std::string, PathLog> logs;
  std::vector<std::string> opened;  // every open, in order
  int totalOpens = 0;
  OpenFileWatch watch;
  std::map<std::string, std::int64_t> failAfter;  // path -> bytes each open delivers
  bool concurrent = false;
  std::vector<PlannedRead> planned;  // every file announced to StartReading, in its order
  std::optional<bool> planInMemory;

 private:
  class SessionInMemory final : public ReadingSession {
   public:
    SessionInMemory(std::unique_ptr<ReadingSession> inner, bool inMemory)
        : inner_(std::move(inner)), inMemory_(inMemory) {}
    std::size_t ReadersWorthRunning() const override {
      return inner_ ? inner_->ReadersWorthRunning() : 0;
    }
    bool PlanInMemory() const override { return inMemory_; }

   private:
    std::unique_ptr<ReadingSession> inner_;
    bool inMemory_;
  };

  NativeFileServices inner_;
  std::mutex guard_;       // the maps and the list of opens
  std::mutex watchGuard_;  // watch
};

// Where the file at `path` lies, as views of `path` (which must outlive the location): what a
// catalogue record of the file would give.
inline FileLocation LocationOfPath(const std::string& path) {
  const std::size_t separator = path.rfind(kNativePaths.separator);
  const std::string_view whole = path;
  return FileLocation{.folder = whole.substr(0, separator), .name = whole.substr(separator + 1)};
}

// A reading plan of the reads listed.
class ListedPlan final : public ReadingPlan {
 public:
  explicit ListedPlan(std::vector<PlannedRead> reads, std::uint32_t folderNumbers = 0)
      : reads_(std::move(reads)), folderNumbers_(folderNumbers) {}
  std::size_t Count() const override { return reads_.size(); }
  PlannedRead At(std::size_t number) const override { return reads_.at(number); }
  std::uint32_t FolderNumbers() const override { return folderNumbers_; }

 private:
  std::vector<PlannedRead> reads_;
  std::uint32_t folderNumbers_;
};

// Bytes of any length, different for every seed; no 1,024-byte chunk repeats another.
inline std::string PatternBytes(std::size_t size, int seed = 0) {
  std::string bytes(size, '\0');
  for (std::size_t at = 0; at < size; ++at) {
    bytes[at] = static_cast<char>(at * 131 + at / 251 + static_cast<std::size_t>(seed) * 29);
  }
  return bytes;
}

// `bytes` with the byte at `at` flipped (variant 1..15 gives different flips).
inline std::string WithByteChanged(std::string bytes, std::size_t at, int variant = 5) {
  bytes[at] = static_cast<char>(bytes[at] ^ (0x11 * variant));
  return bytes;
}

}  // namespace kopiensieb::testing

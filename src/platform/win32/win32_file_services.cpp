#include "platform/win32/win32_file_services.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/win32/wide_text.h"

namespace kopiensieb {

namespace {

// Owns one handle of CreateFileW.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  void Reset() {
    if (Valid()) {
      ::CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
  }
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Owns one search handle of FindFirstFileExW.
class SearchHandle {
 public:
  explicit SearchHandle(HANDLE handle) : handle_(handle) {}
  ~SearchHandle() {
    if (Valid()) {
      ::FindClose(handle_);
    }
  }
  SearchHandle(const SearchHandle&) = delete;
  SearchHandle& operator=(const SearchHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Never through a reparse point: the handle is that of the entry itself. Folders need
// FILE_FLAG_BACKUP_SEMANTICS to be opened at all.
constexpr DWORD kEntryItselfFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

std::int64_t Combine(DWORD high, DWORD low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

// FILETIME counts 100 ns steps since 1601; the program counts nanoseconds since 1970.
std::int64_t NanosecondsSinceEpoch(const FILETIME& time) {
  constexpr std::int64_t kStepsFrom1601To1970 = 116'444'736'000'000'000;
  return (Combine(time.dwHighDateTime, time.dwLowDateTime) - kStepsFrom1601To1970) * 100;
}

bool IsReparsePoint(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether a failed lookup proves that nothing is there, rather than that nobody may look.
bool MeansNothingThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_DIRECTORY;
}

FileStatus StatusFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStatus status;
  status.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
  status.identity.device = info.dwVolumeSerialNumber;
  status.identity.inode =
      static_cast<std::uint64_t>(Combine(info.nFileIndexHigh, info.nFileIndexLow));
  status.modifiedNs = NanosecondsSinceEpoch(info.ftLastWriteTime);
  return status;
}

// The entry itself, opened only to be looked at (no read access is needed for that).
Handle OpenEntryItself(const std::wstring& path, DWORD access) {
  return Handle(::CreateFileW(path.c_str(), access, kShareEverything, nullptr, OPEN_EXISTING,
                              kEntryItselfFlags, nullptr));
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(const Handle& handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.Get(), &info)) {
    return std::nullopt;
  }
  return info;
}

bool HasDotComponent(const std::wstring& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) {
      end = path.size();
    }
    const std::wstring_view component(path.data() + start, end - start);
    if (component == L"." || component == L"..") {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::wstring WholePath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return path;
  }
  std::wstring whole(needed, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), needed, whole.data(), nullptr);
  if (written == 0 || written >= needed) {
    return path;
  }
  whole.resize(written);
  return whole;
}

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// One folder level. The folder is held open without FILE_SHARE_DELETE while it is read, so
// it cannot be renamed away and replaced (by a junction, say) under the enumeration.
class Win32Enumeration final : public DirectoryEnumeration {
 public:
  Win32Enumeration(std::wstring folder, Handle held)
      : folder_(std::move(folder)), held_(std::move(held)) {}

  DirectoryEntry Next() override {
    for (;;) {
      if (!NextFound()) {
        return {};
      }
      const std::wstring_view name(found_.cFileName);
      if (name == L"." || name == L"..") {
        continue;
      }
      if (std::optional<DirectoryEntry> entry = Classify()) {
        return *std::move(entry);
      }
    }
  }

  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
    return EnumerationOf(Child(WideFromUtf8(name)));
  }

  // The enumeration of a folder, or an empty one when it is not a plain folder (a reparse
  // point is never entered) or cannot be read.
  static std::unique_ptr<DirectoryEnumeration> EnumerationOf(std::wstring folder) {
    Handle held(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              kEntryItselfFlags, nullptr));
    if (!held.Valid()) {
      return std::make_unique<EmptyEnumeration>();
    }
    std::optional<BY_HANDLE_FILE_INFORMATION> info = InformationOf(held);
    if (!info || !IsFolder(info->dwFileAttributes) || IsReparsePoint(info->dwFileAttributes)) {
      return std::make_unique<EmptyEnumeration>();
    }
    return std::make_unique<Win32Enumeration>(std::move(folder), std::move(held));
  }

 private:
  std::wstring Child(const std::wstring& name) const {
    std::wstring path = folder_;
    if (path.empty() || path.back() != L'\\') {
      path.push_back(L'\\');
    }
    path.append(name);
    return path;
  }

  // Fills found_ with the next entry of the system's enumeration; false at its end.
  bool NextFound() {
    if (!search_) {
      const std::wstring pattern = Child(L"*");
      // Basic information (no 8.3 names) and large fetches: fewer and cheaper system calls.
      search_ = std::make_unique<SearchHandle>(
          ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found_, FindExSearchNameMatch,
                             nullptr, FIND_FIRST_EX_LARGE_FETCH));
      return search_->Valid();
    }
    return search_->Valid() && ::FindNextFileW(search_->Get(), &found_) != 0;
  }

  std::optional<DirectoryEntry> Classify() {
    const EntryKind kind = ListedKind(found_.dwFileAttributes);
    if (kind == EntryKind::None) {
      return std::nullopt;
    }
    std::string name = Utf8FromWide(found_.cFileName);
    if (kind == EntryKind::Folder) {
      return DirectoryEntry{EntryKind::Folder, std::move(name), {}};
    }
    DirectoryEntry entry{EntryKind::File, std::move(name), {}};
    entry.status.size = Combine(found_.nFileSizeHigh, found_.nFileSizeLow);
    entry.status.modifiedNs = NanosecondsSinceEpoch(found_.ftLastWriteTime);
    // The listing carries no file index: the entry is looked at once more for its identity,
    // and its size and time are taken from there too, as StatusOf and the deletion see them
    // (a folder's listing may lag behind a file being written). Should that fail, the
    // identity stays unknown and proves nothing later on.
    Handle file = OpenEntryItself(Child(found_.cFileName), FILE_READ_ATTRIBUTES);
    if (file.Valid()) {
      if (std::optional<BY_HANDLE_FILE_INFORMATION> info = InformationOf(file)) {
        if (IsReparsePoint(info->dwFileAttributes) || IsFolder(info->dwFileAttributes)) {
          return std::nullopt;  // replaced since the listing
        }
        entry.status = StatusFrom(*info);
      }
    }
    return entry;
  }

  std::wstring folder_;
  Handle held_;
  std::unique_ptr<SearchHandle> search_;
  WIN32_FIND_DATAW found_{};
};

class Win32ReadableFile final : public ReadableFile {
 public:
  Win32ReadableFile(Handle file, const FileStatus& opened)
      : file_(std::move(file)), opened_(opened) {}

  std::int64_t Read(std::span<char> buffer) override {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      const DWORD wanted =
          static_cast<DWORD>(std::min<std::size_t>(buffer.size() - filled, std::size_t{1} << 30));
      DWORD got = 0;
      if (!::ReadFile(file_.Get(), buffer.data() + filled, wanted, &got, nullptr) || got == 0) {
        break;  // the end, or an error: the caller sees fewer bytes than asked
      }
      filled += got;
    }
    position_ += static_cast<std::int64_t>(filled);
    return static_cast<std::int64_t>(filled);
  }

  std::int64_t Position() const override { return position_; }

  // A seek instead of reading the bytes in between; a target beyond the end stops at the end
  // and fails.
  bool SkipTo(std::int64_t position) override {
    if (position < position_) {
      return false;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.Get(), &size)) {
      return false;
    }
    const std::int64_t target =
        std::min(position, std::max(static_cast<std::int64_t>(size.QuadPart), position_));
    LARGE_INTEGER distance{};
    distance.QuadPart = target;
    if (!::SetFilePointerEx(file_.Get(), distance, nullptr, FILE_BEGIN)) {
      return false;
    }
    position_ = target;
    return position_ == position;
  }

  std::optional<FileStatus> Status() const override { return opened_; }

 private:
  Handle file_;
  FileStatus opened_;
  std::int64_t position_ = 0;
};

}  // namespace

std::wstring ExtendedPath(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  if (wide.starts_with(LR"(\\?\)")) {
    return wide;
  }
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  if (wide.size() == 2 && IsDriveLetter(wide[0]) && wide[1] == L':') {
    wide.push_back(L'\\');  // "D:" alone would be the drive's current folder
  }
  if (HasDotComponent(wide) ||
      !(wide.starts_with(LR"(\\)") ||
        (wide.size() >= 3 && IsDriveLetter(wide[0]) && wide[1] == L':' && wide[2] == L'\\'))) {
    wide = WholePath(wide);
  }
  if (wide.starts_with(LR"(\\.\)") || wide.starts_with(LR"(\\?\)")) {
    return wide;
  }
  if (wide.starts_with(LR"(\\)")) {
    return LR"(\\?\UNC\)" + wide.substr(2);
  }
  return LR"(\\?\)" + wide;
}

EntryKind ListedKind(std::uint32_t attributes) {
  if (IsReparsePoint(attributes)) {
    return EntryKind::None;
  }
  return IsFolder(attributes) ? EntryKind::Folder : EntryKind::File;
}

std::unique_ptr<DirectoryEnumeration> Win32FileServices::StartEnumeration(
    const std::string& folder) {
  // The chosen folder is entered even when it is a junction or a link: the user picked it.
  // Below it, reparse points are not followed.
  std::wstring path = ExtendedPath(folder);
  Handle held(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!held.Valid()) {
    return std::make_unique<EmptyEnumeration>();
  }
  return std::make_unique<Win32Enumeration>(std::move(path), std::move(held));
}

PathKind Win32FileServices::WhatExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data)) {
    return MeansNothingThere(::GetLastError()) ? PathKind::Nothing : PathKind::Unknown;
  }
  // A link counts as a file, whatever it points to, as on POSIX.
  if (IsReparsePoint(data.dwFileAttributes)) {
    return PathKind::File;
  }
  return IsFolder(data.dwFileAttributes) ? PathKind::Folder : PathKind::File;
}

std::optional<FileStatus> Win32FileServices::StatusOf(const std::string& path) {
  Handle entry = OpenEntryItself(ExtendedPath(path), FILE_READ_ATTRIBUTES);
  if (!entry.Valid()) {
    return std::nullopt;
  }
  std::optional<BY_HANDLE_FILE_INFORMATION> info = InformationOf(entry);
  if (!info) {
    return std::nullopt;
  }
  return StatusFrom(*info);
}

std::unique_ptr<ReadableFile> Win32FileServices::OpenForReading(const std::string& path) {
  Handle file(::CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ, kShareEverything, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr));
  if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    return nullptr;
  }
  std::optional<BY_HANDLE_FILE_INFORMATION> info = InformationOf(file);
  if (!info || IsFolder(info->dwFileAttributes) || IsReparsePoint(info->dwFileAttributes)) {
    return nullptr;
  }
  return std::make_unique<Win32ReadableFile>(std::move(file), StatusFrom(*info));
}

namespace {

// What stands at a path, opened for deletion; its information when it is a plain file (not a
// folder, not a reparse point).
struct OpenedForDeletion {
  Handle handle;
  std::optional<FileStatus> plainFile;
  DWORD openError = ERROR_SUCCESS;
};

OpenedForDeletion OpenForDeletion(const std::string& path) {
  OpenedForDeletion opened;
  opened.handle = OpenEntryItself(ExtendedPath(path), DELETE | FILE_READ_ATTRIBUTES);
  if (!opened.handle.Valid()) {
    opened.openError = ::GetLastError();
    return opened;
  }
  std::optional<BY_HANDLE_FILE_INFORMATION> info = InformationOf(opened.handle);
  if (info && !IsFolder(info->dwFileAttributes) && !IsReparsePoint(info->dwFileAttributes)) {
    opened.plainFile = StatusFrom(*info);
  }
  return opened;
}

// Marks the opened file for deletion; it goes when its last handle is closed.
bool DeleteThrough(const Handle& handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != 0;
}

}  // namespace

bool Win32FileServices::Delete(const std::string& path) {
  // Checked and deleted through one handle: what is deleted is what was checked, even if the
  // path is changed in between.
  const OpenedForDeletion opened = OpenForDeletion(path);
  return opened.plainFile && DeleteThrough(opened.handle);
}

DeleteOutcome Win32FileServices::DeleteIfUnchanged(const std::string& path,
                                                   const FileStatus& expected) {
  const OpenedForDeletion opened = OpenForDeletion(path);
  if (!opened.handle.Valid()) {
    return MeansNothingThere(opened.openError) ? DeleteOutcome::Missing : DeleteOutcome::Kept;
  }
  if (!opened.plainFile || *opened.plainFile != expected) {
    return DeleteOutcome::Kept;
  }
  return DeleteThrough(opened.handle) ? DeleteOutcome::Deleted : DeleteOutcome::Kept;
}

std::unique_ptr<DirectoryEnumeration> Win32FileServices::StartEnumerationBelow(
    const std::string& root, const std::string& relative) {
  std::unique_ptr<DirectoryEnumeration> folder = StartEnumeration(root);
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find_first_of("\\/", start);
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

}  // namespace kopiensieb

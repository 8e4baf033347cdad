// TempFolder on Windows, through std::filesystem on "\\?\" paths (no length limit). Links,
// named pipes and permission bits are POSIX matters: those helpers fail here, and the tests
// that need them are built on Linux only. Nothing here ever deletes through a link.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_services.h"
#include "temp_folder.h"

namespace kopiensieb::testing {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what, std::string_view relative) {
  throw std::runtime_error(what + " failed for " + std::string(relative) + " (error " +
                           std::to_string(::GetLastError()) + ")");
}

fs::path Native(const std::string& utf8Path) {
  return fs::path(ExtendedPath(utf8Path));
}

std::string MakeTemporaryRoot() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) {
    Fail("GetTempPathW", "");
  }
  std::string root = Utf8FromWide(std::wstring_view(base, length));
  while (!root.empty() && root.back() == '\\') {
    root.pop_back();
  }
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = root + "\\kopiensieb-test-" +
                                  std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(counter++);
    std::error_code error;
    if (fs::create_directory(Native(candidate), error)) {
      return candidate;
    }
  }
  Fail("create a temporary folder", root);
}

// A handle of an existing file opened for writing (never through a reparse point).
HANDLE OpenExisting(const std::string& path) {
  return ::CreateFileW(ExtendedPath(path).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

class ClosedOnExit {
 public:
  explicit ClosedOnExit(HANDLE handle) : handle_(handle) {}
  ~ClosedOnExit() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
  }
  ClosedOnExit(const ClosedOnExit&) = delete;
  ClosedOnExit& operator=(const ClosedOnExit&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

void MakeParents(const std::string& path, std::string_view relative) {
  const std::size_t last = path.rfind('\\');
  std::error_code error;
  fs::create_directories(Native(path.substr(0, last)), error);
  if (error) {
    Fail("create the parent folders", relative);
  }
}

}  // namespace

TempFolder::TempFolder() : root_(MakeTemporaryRoot()) {}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(Native(root_), ignored);
}

std::string TempFolder::PathOf(std::string_view relative) const {
  std::string path = root_;
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) {
      end = relative.size();
    }
    if (end > start) {
      path.push_back('\\');
      path.append(relative.substr(start, end - start));
    }
    start = end + 1;
  }
  return path;
}

std::string TempFolder::WriteFile(std::string_view relative, std::string_view bytes) {
  const std::string path = PathOf(relative);
  MakeParents(path, relative);
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    Fail("write", relative);
  }
  return path;
}

void TempFolder::WriteAt(std::string_view relative, std::int64_t offset, std::string_view bytes) {
  const ClosedOnExit file(OpenExisting(PathOf(relative)));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    Fail("open for writing", relative);
  }
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  DWORD written = 0;
  if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) ||
      !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    Fail("write at", relative);
  }
}

std::string TempFolder::Resize(std::string_view relative, std::int64_t size) {
  const std::string path = PathOf(relative);
  if (!Exists(relative)) {
    WriteFile(relative, "");
  }
  std::error_code error;
  fs::resize_file(Native(path), static_cast<std::uintmax_t>(size), error);
  if (error) {
    Fail("resize", relative);
  }
  return path;
}

std::string TempFolder::ReadFile(std::string_view relative) const {
  std::ifstream in(Native(PathOf(relative)), std::ios::binary);
  if (!in) {
    Fail("open for reading", relative);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TempFolder::MakeFolder(std::string_view relative) {
  const std::string path = PathOf(relative);
  std::error_code error;
  fs::create_directories(Native(path), error);
  if (error) {
    Fail("create folder", relative);
  }
  return path;
}

std::string TempFolder::MakeSymlink(std::string_view relative, std::string_view) {
  // Under Wine a link would be a Unix link, and deleting one there deletes its target.
  Fail("links are not made on Windows:", relative);
}

std::string TempFolder::MakeHardLink(std::string_view relative, std::string_view existing) {
  const std::string path = PathOf(relative);
  MakeParents(path, relative);
  if (!::CreateHardLinkW(ExtendedPath(path).c_str(), ExtendedPath(PathOf(existing)).c_str(),
                         nullptr)) {
    Fail("CreateHardLinkW", relative);
  }
  return path;
}

std::string TempFolder::MakeFifo(std::string_view relative) {
  Fail("named pipes are not made on Windows:", relative);
}

void TempFolder::SetMode(std::string_view relative, unsigned) {
  Fail("permission bits are not set on Windows:", relative);
}

void TempFolder::SetModifiedNs(std::string_view relative, std::int64_t modifiedNs) {
  const ClosedOnExit file(OpenExisting(PathOf(relative)));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    Fail("open for the time", relative);
  }
  constexpr std::int64_t kStepsFrom1601To1970 = 116'444'736'000'000'000;
  const auto steps = static_cast<std::uint64_t>(modifiedNs / 100 + kStepsFrom1601To1970);
  FILETIME time{static_cast<DWORD>(steps & 0xFFFFFFFFu), static_cast<DWORD>(steps >> 32)};
  if (!::SetFileTime(file.Get(), nullptr, nullptr, &time)) {
    Fail("SetFileTime", relative);
  }
}

void TempFolder::Rename(std::string_view from, std::string_view to) {
  std::error_code error;
  fs::rename(Native(PathOf(from)), Native(PathOf(to)), error);
  if (error) {
    Fail("rename", from);
  }
}

bool TempFolder::Exists(std::string_view relative) const {
  return ::GetFileAttributesW(ExtendedPath(PathOf(relative)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TempFolder::Remove(std::string_view relative) {
  std::error_code error;
  fs::remove_all(Native(PathOf(relative)), error);
  if (error) {
    Fail("remove", relative);
  }
}

std::string TempFolder::MakeDeepFolders(std::string_view relative, int levels,
                                        std::size_t nameLength, char fill) {
  std::string path(relative);
  const std::string name(nameLength, fill);
  for (int level = 0; level < levels; ++level) {
    path += "/" + name;
  }
  MakeFolder(path);
  return path;
}

}  // namespace kopiensieb::testing

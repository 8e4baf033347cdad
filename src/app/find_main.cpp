// kopiensieb-find [--by-name] [--pattern TEXT] [--json] FOLDER...: catalogues the folders as
// "Pfad hinzufügen" does and prints the groups the search finds, without windows. It deletes
// nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/duplicate_search.h"
#include "catalogue/folder_scan.h"
#include "common/text.h"
#include "platform/posix/posix_file_services.h"

namespace kopiensieb {
namespace {

constexpr int kUnreadableFolder = 2;
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: kopiensieb-find [--by-name] [--pattern TEXT] [--json] FOLDER...\n"
    "  Prints the groups of files with equal content (with --by-name: with names that differ\n"
    "  at most in letter case), one path per line, a blank line between groups.\n"
    "  --pattern TEXT  catalogue only names matching TEXT (\"*.txt;*.doc\"); default: every file\n"
    "  --json          print the groups as JSON instead\n";

struct FindOptions {
  SearchMode mode = SearchMode::SameContent;
  std::string patternText;  // empty: every file
  bool json = false;
  std::vector<std::string> folders;
};

// nullopt (after a message on standard error) when the arguments make no sense.
std::optional<FindOptions> ParseArguments(const std::vector<std::string>& arguments) {
  FindOptions options;
  bool optionsEnded = false;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string& argument = arguments[at];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      options.folders.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--by-name") {
      options.mode = SearchMode::SameName;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--pattern" && at + 1 < arguments.size()) {
      // Several patterns add up, as they would in the field separated by ";".
      if (!options.patternText.empty()) {
        options.patternText.push_back(';');
      }
      options.patternText.append(arguments[++at]);
    } else {
      std::cerr << "kopiensieb-find: unknown or incomplete option " << argument << '\n' << kUsage;
      return std::nullopt;
    }
  }
  if (options.folders.empty()) {
    std::cerr << kUsage;
    return std::nullopt;
  }
  return options;
}

// An absolute folder path, as the folder chooser would hand it over.
std::string AbsoluteFolder(const std::string& folder) {
  return std::filesystem::absolute(std::filesystem::path(folder)).lexically_normal().string();
}

// The reason the folder cannot be listed, or nullopt when it can.
std::optional<std::string> WhyUnreadable(const std::string& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    return std::string(std::strerror(errno));
  }
  ::close(descriptor);
  return std::nullopt;
}

// Every group's members, as paths, in the order the search left them.
std::vector<std::vector<std::string>> GroupPaths(DuplicateGroupList& groups,
                                                 std::vector<std::int64_t>& sizes) {
  std::vector<std::vector<std::string>> paths;
  groups.ForEach([&paths, &sizes](DuplicateGroup& group) {
    std::vector<std::string>& members = paths.emplace_back();
    const GroupMember* member = group.firstMember;
    for (std::int32_t k = 0; k < group.memberCount && member != nullptr; ++k) {
      members.push_back(FullPath(member->folder, member->name));
      member = GroupMemberList::Next(*member);
    }
    sizes.push_back(group.size);
  });
  return paths;
}

void PrintPlain(const std::vector<std::vector<std::string>>& groups) {
  for (std::size_t group = 0; group < groups.size(); ++group) {
    if (group > 0) {
      std::cout << '\n';
    }
    for (const std::string& path : groups[group]) {
      std::cout << path << '\n';
    }
  }
}

// JSON texts are Unicode: bytes of a name that are not UTF-8 are shown as U+FFFD.
void PrintJson(const std::vector<std::vector<std::string>>& groups,
               const std::vector<std::int64_t>& sizes) {
  nlohmann::ordered_json shown = nlohmann::ordered_json::array();
  for (std::size_t group = 0; group < groups.size(); ++group) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& path : groups[group]) {
      files.push_back(DisplayText(path));
    }
    shown.push_back({{"size", sizes[group]}, {"files", std::move(files)}});
  }
  std::cout << nlohmann::ordered_json{{"groups", std::move(shown)}}.dump(2) << '\n';
}

// Walks to the last record, so that the next scan's records go behind every earlier one.
void CursorToEnd(FileCatalogue& catalogue) {
  catalogue.ResetCursor();
  while (catalogue.StepForward()) {
    if (FileCatalogue::Next(*catalogue.Current()) == nullptr) {
      break;
    }
  }
}

int RunFind(const FindOptions& options) {
  PosixFileServices files;
  EngineProgress silent;
  FileCatalogue catalogue;
  PatternList patterns;
  FolderList folders;
  int exitCode = 0;
  for (const std::string& given : options.folders) {
    const std::string folder = FolderWithSeparator(AbsoluteFolder(given));
    if (IsFolderCovered(folders, folder)) {
      std::cerr << "kopiensieb-find: " << given << " lies in a folder given before; skipped\n";
      continue;
    }
    if (const std::optional<std::string> reason = WhyUnreadable(folder)) {
      std::cerr << "kopiensieb-find: cannot read folder " << given << ": " << *reason << '\n';
      exitCode = kUnreadableFolder;
      continue;
    }
    folders.Add().text = folder;
    CursorToEnd(catalogue);
    ScanFolder(files, folder, options.patternText, patterns, catalogue, silent);
  }
  DuplicateGroupList groups;
  GroupMemberList members;
  FindDuplicates(files, catalogue, SearchRequest{.mode = options.mode},
                 SearchResults{groups, members}, silent);
  std::vector<std::int64_t> sizes;
  const std::vector<std::vector<std::string>> paths = GroupPaths(groups, sizes);
  if (options.json) {
    PrintJson(paths, sizes);
  } else {
    PrintPlain(paths);
  }
  std::cout.flush();
  return exitCode;
}

}  // namespace
}  // namespace kopiensieb

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::optional<kopiensieb::FindOptions> options = kopiensieb::ParseArguments(arguments);
    if (!options) {
      return kopiensieb::kUsageError;
    }
    return kopiensieb::RunFind(*options);
  } catch (const std::exception& failure) {
    std::cerr << "kopiensieb-find: " << failure.what() << '\n';
    return 1;
  }
}

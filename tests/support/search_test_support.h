#pragma once

// Helpers of the duplicate-search tests: widget services that log every progress and status
// write, a program on them and on logging file services, and the search as the plain pairwise
// algorithm runs it, to hold the results against.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/content_comparison.h"
#include "catalogue/records.h"
#include "common/text.h"
#include "native_path.h"
#include "null_widgets.h"
#include "recording_file_services.h"
#include "shell/control_numbers.h"
#include "shell/program.h"
#include "temp_folder.h"

namespace kopiensieb::testing {

// One write to the widgets, in order.
struct WidgetWrite {
  enum class Kind { Progress, Status } kind = Kind::Progress;
  int target = 0;  // control number, or status field
  int value = 0;
  std::string text;

  friend bool operator==(const WidgetWrite&, const WidgetWrite&) = default;
  friend void PrintTo(const WidgetWrite& write, std::ostream* out) {
    *out << (write.kind == Kind::Progress ? "progress " : "status ") << write.target << " "
         << write.value << " \"" << write.text << "\"";
  }
};

// Widget services that only log the progress and status writes (all the search touches)
// and can look at the program at each write of SearchProgressBar.
class LoggingWidgets final : public NullWidgets {
 public:
  void SetProgress(int control, int value) override {
    writes.push_back({WidgetWrite::Kind::Progress, control, value, {}});
    if (control == kSearchProgressBar && onSearchProgress) {
      onSearchProgress();
    }
  }
  void SetStatusText(int field, const std::string& text) override {
    writes.push_back({WidgetWrite::Kind::Status, field, 0, text});
  }
  void ShowMessageBox(const std::string&, const std::string&, MessageIcon) override {
    ++messageBoxes;
  }
  void KeepPainting() override { ++keepPaintingCalls; }

  std::vector<int> ProgressValues(int control) const {
    std::vector<int> values;
    for (const WidgetWrite& write : writes) {
      if (write.kind == WidgetWrite::Kind::Progress && write.target == control) {
        values.push_back(write.value);
      }
    }
    return values;
  }
  std::vector<std::string> StatusTexts(int field) const {
    std::vector<std::string> texts;
    for (const WidgetWrite& write : writes) {
      if (write.kind == WidgetWrite::Kind::Status && write.target == field) {
        texts.push_back(write.text);
      }
    }
    return texts;
  }

  std::vector<WidgetWrite> writes;
  std::function<void()> onSearchProgress;
  int messageBoxes = 0;
  int keepPaintingCalls = 0;
};

// A group as paths, in member order.
using GroupPaths = std::vector<std::vector<std::string>>;

// The search the plain way, over the same catalogue: every record the reference in turn,
// every later unmarked candidate of the same size > 0 (content) or the same LowerCase name
// (name) compared pairwise with CompareFileContents. Marks live in a vector of its own, so
// the catalogue is not touched; marksAfterEach[i] holds them after reference i.
struct PlainSearchResult {
  GroupPaths groups;
  std::vector<std::vector<bool>> marksAfterEach;
};

inline PlainSearchResult PlainSearch(FileServices& files, FileCatalogue& catalogue, bool byContent,
                                     std::int32_t percent = 100) {
  std::vector<FileRecord*> records;
  catalogue.ForEach([&records](FileRecord& record) { records.push_back(&record); });
  std::vector<bool> marked(records.size(), false);
  PlainSearchResult result;
  for (std::size_t reference = 0; reference < records.size(); ++reference) {
    marked[reference] = false;
    std::vector<std::string> group{FullPath(*records[reference])};
    for (std::size_t candidate = reference + 1; candidate < records.size(); ++candidate) {
      const FileRecord& ref = *records[reference];
      const FileRecord& cand = *records[candidate];
      bool same = false;
      if (byContent) {
        same = cand.size == ref.size && cand.size > 0 && !marked[candidate] &&
               CompareFileContents(files, FullPath(cand), FullPath(ref), cand.size, percent,
                                   nullptr) == 1;
      } else {
        same = !marked[candidate] && LowerCase(cand.name) == LowerCase(ref.name);
      }
      if (same) {
        group.push_back(FullPath(cand));
        marked[candidate] = true;
      }
    }
    if (group.size() >= 2) {
      result.groups.push_back(group);
    }
    result.marksAfterEach.push_back(marked);
  }
  return result;
}

// A program on logging widgets and logging file services, with files in a temporary folder.
class SearchTest : public ::testing::Test {
 protected:
  // Catalogues a file of the temporary folder as a scan would: folder, name, size, identity.
  FileRecord& Catalogue(const std::string& relative) {
    const std::string path = temp.PathOf(relative);
    const std::optional<FileStatus> status = files.StatusOf(path);
    if (!status) {
      throw std::runtime_error("no file to catalogue: " + path);
    }
    const std::size_t slash = path.rfind(kNativePaths.separator);
    FileRecord& record = AddRecord(path.substr(0, slash), path.substr(slash + 1), status->size);
    record.identity = status->identity;
    record.modifiedNs = status->modifiedNs;
    return record;
  }

  // A record by hand, behind the last one; the folder is given with "/" and stored in the
  // platform's form.
  FileRecord& AddRecord(const std::string& folder, const std::string& name, std::int64_t size) {
    FileCatalogue& catalogue = program.state.fileCatalogue;
    const FileRecord* current = catalogue.Current();
    if (current == nullptr || FileCatalogue::Next(*current) != nullptr) {
      catalogue.ResetCursor();
    }
    while (catalogue.StepForward()) {
      if (FileCatalogue::Next(*catalogue.Current()) == nullptr) {
        break;
      }
    }
    FileRecord& record = catalogue.Add();
    record.folder = NativePath(folder);
    record.name = name;
    record.size = size;
    return record;
  }

  // Writes the files, then catalogues them in the order given.
  void WriteAndCatalogue(const std::vector<std::pair<std::string, std::string>>& namesAndBytes) {
    for (const auto& [name, bytes] : namesAndBytes) {
      temp.WriteFile(name, bytes);
    }
    for (const auto& [name, bytes] : namesAndBytes) {
      Catalogue(name);
    }
  }

  std::string Path(const std::string& relative) const { return temp.PathOf(relative); }

  // The groups of the plain pairwise search over the catalogue, read without the log.
  GroupPaths Pairwise(std::int32_t percent = 100) {
    NativeFileServices plainFiles;
    return PlainSearch(plainFiles, program.state.fileCatalogue, true, percent).groups;
  }

  void ExpectEveryFileOpenedOnceAndNoByteReadTwice() {
    for (const auto& [path, log] : files.logs) {
      SCOPED_TRACE(path);
      EXPECT_EQ(log.opens, 1);
      EXPECT_FALSE(log.AnyByteReadTwice());
    }
  }

  // The groups the search left, checked for consistency on the way: every chain holds
  // memberCount members, each member copies its file's folder and name, and the group's size
  // is that of its first file.
  GroupPaths Groups() {
    GroupPaths groups;
    program.state.duplicateGroupList.ForEach([&groups](DuplicateGroup& group) {
      std::vector<std::string> paths;
      for (const GroupMember* member = group.firstMember; member != nullptr;
           member = GroupMemberList::Next(*member)) {
        EXPECT_NE(member->file, nullptr);
        if (member->file != nullptr) {
          EXPECT_EQ(member->folder, member->file->folder);
          EXPECT_EQ(member->name, member->file->name);
        }
        paths.push_back(FullPath(member->folder, member->name));
      }
      EXPECT_EQ(group.memberCount, static_cast<std::int32_t>(paths.size()));
      if (group.firstMember != nullptr && group.firstMember->file != nullptr) {
        EXPECT_EQ(GroupMemberList::Previous(*group.firstMember), nullptr);
        EXPECT_EQ(group.size, group.firstMember->file->size);
      }
      groups.push_back(paths);
    });
    // Counting follows the links from the first record, so it ends with the first chain.
    EXPECT_EQ(program.state.groupMemberList.Count(),
              static_cast<std::int64_t>(groups.empty() ? 0 : groups.front().size()));
    return groups;
  }

  std::vector<bool> Marks() {
    std::vector<bool> marks;
    program.state.fileCatalogue.ForEach(
        [&marks](FileRecord& record) { marks.push_back(record.grouped); });
    return marks;
  }

  TempFolder temp;
  LoggingFileServices files;
  LoggingWidgets widgets;
  Program program{widgets, files};
};

}  // namespace kopiensieb::testing

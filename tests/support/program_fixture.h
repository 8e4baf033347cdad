#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/records.h"
#include "native_path.h"
#include "platform/headless/headless_widgets.h"
#include "platform/native_file_services.h"
#include "shell/program.h"

namespace kopiensieb::testing {

// A whole program on the in-memory widgets and the real file services, with the main window
// built, ready for user actions: queue one (Click, Type, Select, ...) and run the pass it
// starts. The lists can also be filled by hand, so results can be tested without a scan or a
// search.
class ProgramHarness {
 public:
  ProgramHarness();
  // The same on other file services (a fake file system, for instance).
  explicit ProgramHarness(FileServices& files);
  ProgramHarness(const ProgramHarness&) = delete;
  ProgramHarness& operator=(const ProgramHarness&) = delete;

  HeadlessWidgetServices widgets;
  NativeFileServices nativeFiles;
  Program program;

  ProgramState& State() { return program.state; }

  // Takes the next queued event and runs one pass of the loop for it. False when it was a
  // close request (the loop would end).
  bool RunNextPass();
  // A user action and the pass it starts. Fails the test when the control is missing or
  // disabled (the action raised no event, so no pass ran).
  void ClickAndRun(int control);
  void TypeAndRun(int control, const std::string& text);
  void SelectAndRun(int control, int row);
  // The add-folder command for a folder (with or without the trailing "/").
  void AddFolderAndRun(const std::string& folder);

  // --- lists by hand. Each appends at the end of its list and leaves the cursor on the new
  // record, as a scan or a search would. Folders are given with "/" and stored in the
  // platform's form.
  FileRecord& AddFile(const std::string& folder, const std::string& name, std::int64_t size);
  // A record of a file that exists (`folder` in the platform's form), with the size, identity
  // and modification time the program's file services give it, as a scan records them.
  FileRecord& AddExistingFile(const std::string& folder, const std::string& name);
  // A group of these catalogue records (first one = reference file), members chained in order.
  DuplicateGroup& AddGroup(const std::vector<FileRecord*>& files);
  // A group of new records of these names in `folder`, all of one size.
  DuplicateGroup& AddGroupOfNames(const std::string& folder, const std::vector<std::string>& names,
                                  std::int64_t size = 10);
  // An entry for the file as if marked from a group of `group` (the file among them); with no
  // group, an entry that knows no copy of its file.
  ToDeleteEntry& AddToDelete(FileRecord& file, const std::vector<FileRecord*>& group = {},
                             bool equalContent = true);

  // What a user sees after a search and a click on a group row: GroupsBox rebuilt, the row
  // selected, MembersBox filled.
  void ShowGroupsAndChoose(int groupRow);

  // --- inspection
  const HeadlessControl& Control(int control) const;
  std::vector<int> SelectedRows(int control) const;
  // A list view's columns as (title, width), in order.
  std::vector<std::pair<std::string, int>> Columns(int control) const;
  // The files of ToDeleteList in list order; fails the test for an entry left marked done.
  std::vector<std::string> ToDeleteNames();
  std::vector<std::string> RowTexts(int control, int column = 0) const;  // one per row
  std::vector<std::string> FileNamesInCatalogue();                       // catalogue order
};

// The harness as a GoogleTest fixture.
class ProgramTest : public ::testing::Test {
 protected:
  ProgramHarness harness;
  HeadlessWidgetServices& widgets = harness.widgets;
  Program& program = harness.program;
  ProgramState& state = harness.program.state;
};

}  // namespace kopiensieb::testing

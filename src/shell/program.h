#pragma once

#include <cstdint>
#include <string>

#include "catalogue/records.h"
#include "platform/file_services.h"
#include "platform/widget_services.h"

namespace kopiensieb {

// The program-wide state: one instance for the whole run, created by start-up.
struct ProgramState {
  FileCatalogue fileCatalogue;
  DuplicateGroupList duplicateGroupList;
  GroupMemberList groupMemberList;
  PatternList patternList;
  FolderList folderList;
  ToDeleteList toDeleteList;

  std::int32_t comparePercent = 100;
  bool toDeleteWindowOpen = false;
  std::string lastFolder;
  std::string activityText;
  std::string detailText;
  Event currentEvent;
};

// What every command works with: the state and the two platform services.
struct Program {
  Program(WidgetServices& widgetServices, FileServices& fileServices)
      : widgets(widgetServices), files(fileServices) {}
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  WidgetServices& widgets;
  FileServices& files;
  ProgramState state;
};

}  // namespace kopiensieb

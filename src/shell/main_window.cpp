#include "shell/main_window.h"

#include <string>
#include <vector>

#include "shell/control_numbers.h"

namespace kopiensieb {

namespace {

// The layout variables of the main window. colLeft and halfWidth change as the columns are
// laid out, so the geometry of each control reads as the formula it comes from.
struct MainLayout {
  int winWidth = 640;
  int winHeight = 480;
  int columnWidth = 195;
  int buttonHeight = 20;
  int labelHeight = 16;
  int marginTop = 5;
  int colLeft = 5;
  int rightLimit = winWidth - 5;
  int bottomLimit = winHeight - marginTop - 20;  // the 20 pixels below are the status bar's
  int halfWidth = 0;
};

constexpr int kActivityFieldWidth = 200;

void Create(Program& program, int control, ControlKind kind, Geometry geometry,
            const std::string& text, ControlOptions options = {}) {
  program.widgets.CreateControl(control, kind, geometry, text, options);
}

void CreateLeftColumn(Program& program, const MainLayout& l) {
  const int halfColumn = (l.columnWidth - 5) / 2;
  Create(program, kAddFolderButton, ControlKind::Button,
         {l.colLeft, l.marginTop, halfColumn, l.buttonHeight}, "Pfad hinzufügen");
  Create(program, kScanPatternField, ControlKind::Field,
         {l.colLeft + halfColumn + 5, l.marginTop, halfColumn, l.buttonHeight}, "*.*");
  Create(program, kFilesLabel, ControlKind::Label,
         {l.colLeft, l.marginTop + l.buttonHeight + 5, l.columnWidth, l.labelHeight},
         "Alle Dateien:");
  Create(program, kFilesView, ControlKind::ListView,
         {l.colLeft, l.marginTop + l.buttonHeight + l.labelHeight + 5, l.columnWidth,
          l.bottomLimit - 2 * l.buttonHeight - l.labelHeight - 15},
         "Name");
  program.widgets.AddColumn(kFilesView, 0, "Name", 150);
  program.widgets.AddColumn(kFilesView, 1, "Größe", 100);
  Create(
      program, kResetButton, ControlKind::Button,
      {l.colLeft, l.marginTop + l.bottomLimit - l.buttonHeight - 5, l.columnWidth, l.buttonHeight},
      "Zurücksetzen");
}

void CreateMiddleColumnTop(Program& program, const MainLayout& l) {
  const int boxWidth = l.rightLimit - l.columnWidth - 40;
  const int wideWidth = l.rightLimit - l.columnWidth - 10;
  Create(program, kSameContentButton, ControlKind::Button,
         {l.colLeft + 5, l.marginTop, l.halfWidth, l.buttonHeight}, "Doppelte Dateien suchen");
  Create(program, kSameNameButton, ControlKind::Button,
         {l.colLeft + l.halfWidth + 10, l.marginTop, l.halfWidth, l.buttonHeight},
         "Gleichnamige Dateien suchen");
  Create(program, kGroupsLabel, ControlKind::Label,
         {l.colLeft + 5, l.marginTop + l.buttonHeight + 5, boxWidth, l.labelHeight},
         "Dateien mit gleichem Inhalt:");
  Create(program, kGroupsBox, ControlKind::ListBox,
         {l.colLeft + 5, l.marginTop + l.buttonHeight + l.labelHeight + 5, boxWidth,
          l.bottomLimit - l.labelHeight - l.buttonHeight - 160},
         "");
  Create(program, kMembersLabel, ControlKind::Label,
         {l.colLeft + 5, l.marginTop + l.bottomLimit - 150, wideWidth, l.labelHeight},
         "Doppelte Dateien:");
  Create(program, kMembersBox, ControlKind::ListBox,
         {l.colLeft + 5, l.marginTop + l.bottomLimit + l.labelHeight - 150, wideWidth,
          95 - l.labelHeight},
         "");
}

void CreateMiddleColumnBottom(Program& program, const MainLayout& l) {
  const int upperRowY = l.marginTop + l.bottomLimit - 2 * l.buttonHeight - 10;
  const int lowerRowY = l.marginTop + l.bottomLimit - l.buttonHeight - 5;
  Create(program, kDeleteMarkedButton, ControlKind::Button,
         {l.colLeft + 5, upperRowY, l.halfWidth, l.buttonHeight}, "Lösche markierte Datei");
  Create(program, kDeleteOthersButton, ControlKind::Button,
         {l.colLeft + 5, lowerRowY, l.halfWidth, l.buttonHeight}, "Lösche alle außer markierter");
  Create(program, kDeleteByPatternButton, ControlKind::Button,
         {l.colLeft + l.halfWidth + 10, upperRowY, l.halfWidth, l.buttonHeight},
         "Lösche Dateien mit spez. Endung");
  ControlOptions lowerCase;
  lowerCase.lowerCase = true;
  Create(program, kDeletePatternField, ControlKind::Field,
         {l.colLeft + l.halfWidth + 10, lowerRowY, l.halfWidth, l.buttonHeight}, "*.bak *.tmp",
         lowerCase);
}

void CreateRightColumn(Program& program, const MainLayout& l) {
  Create(program, kSearchProgressBar, ControlKind::Progress,
         {l.colLeft + 5, l.marginTop + 75, 25, l.bottomLimit - 230}, "");
  Create(program, kFileProgressBar, ControlKind::Progress,
         {l.colLeft + 5, l.marginTop + 45, 25, 25}, "");
  Create(program, kToDeleteButton, ControlKind::Button,
         {l.colLeft + 5, l.marginTop, 25, l.buttonHeight}, "TDL");
  program.widgets.SetProgress(kSearchProgressBar, 0);
  program.widgets.SetProgress(kFileProgressBar, 0);
}

}  // namespace

bool BuildMainWindow(Program& program) {
  MainLayout layout;
  WindowLayout window;
  window.number = kMainWindow;
  window.clientWidth = layout.winWidth;
  window.clientHeight = layout.winHeight;
  window.title = "Kopiensieb";
  window.placement = WindowPlacement::CentredOnScreen;
  window.hasCloseBox = true;
  if (!program.widgets.OpenWindow(window) || !program.widgets.ChooseContainer(kMainWindow)) {
    return false;
  }
  const std::vector<int> fieldWidths{kActivityFieldWidth, layout.winWidth - kActivityFieldWidth};
  if (!program.widgets.CreateStatusBar(kMainWindow, fieldWidths)) {
    return false;
  }

  CreateLeftColumn(program, layout);
  layout.colLeft = layout.colLeft + layout.columnWidth;
  layout.halfWidth = (layout.rightLimit - layout.columnWidth - 45) / 2;
  CreateMiddleColumnTop(program, layout);
  layout.halfWidth = (layout.rightLimit - layout.columnWidth - 15) / 2;
  CreateMiddleColumnBottom(program, layout);
  layout.colLeft = layout.colLeft + (layout.rightLimit - layout.columnWidth - 40) + 5;
  CreateRightColumn(program, layout);
  return true;
}

}  // namespace kopiensieb

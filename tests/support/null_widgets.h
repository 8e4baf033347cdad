#pragma once

#include <string>
#include <vector>

#include "platform/widget_services.h"

namespace kopiensieb::testing {

// Widgets that do nothing and hold nothing: every call succeeds, every question gets the
// answer of an empty window. A test double overrides only what it looks at.
class NullWidgets : public WidgetServices {
 public:
  bool OpenWindow(const WindowLayout&) override { return true; }
  bool ChooseContainer(int) override { return true; }
  void CloseWindow(int) override {}
  bool CreateStatusBar(int, const std::vector<int>&) override { return true; }
  void CreateControl(int, ControlKind, Geometry, const std::string&,
                     const ControlOptions&) override {}
  void AddColumn(int, int, const std::string&, int) override {}
  void SetEnabled(int, bool) override {}
  bool IsEnabled(int) const override { return true; }
  void SetText(int, const std::string&) override {}
  std::string GetText(int) const override { return {}; }
  void AddRow(int, int, const std::string&) override {}
  void SetRowText(int, int, int, const std::string&) override {}
  void RemoveRow(int, int) override {}
  void RemoveRows(int, const std::vector<int>&) override {}
  void RemoveAllRows(int) override {}
  int CountRows(int) const override { return 0; }
  int SelectedRow(int) const override { return -1; }
  void SelectRow(int, int) override {}
  bool IsRowSelected(int, int) const override { return false; }
  void SetRowSelected(int, int, bool, bool) override {}
  void SetProgress(int, int) override {}
  void SetStatusText(int, const std::string&) override {}
  void ShowMessageBox(const std::string&, const std::string&, MessageIcon) override {}
  std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
  // Every wait ends the program, so a loop run by mistake stops at once.
  Event WaitForEvent() override { return Event{EventKind::CloseRequest, 0, -1}; }
};

}  // namespace kopiensieb::testing

#pragma once

// Helpers of the tests that drive the Qt widget services as a user would: real widgets on the
// offscreen platform, input through QTest, the events read back through the interface.

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QTest>
#include <QWidget>

#include <deque>
#include <string>
#include <vector>

#include "platform/qt/qt_widget_services.h"

namespace kopiensieb::testing {

inline const WindowLayout kQtMainWindowLayout{.number = 0,
                                              .clientWidth = 640,
                                              .clientHeight = 480,
                                              .title = "Kopiensieb",
                                              .placement = WindowPlacement::CentredOnScreen,
                                              .hasCloseBox = true};

// Opens the main window, makes it the container of new controls and waits until it is the
// active window; nullptr when any of that fails.
inline QWidget* OpenActiveMainWindow(QtWidgetServices& widgets) {
  if (!widgets.OpenWindow(kQtMainWindowLayout) || !widgets.ChooseContainer(0)) {
    return nullptr;
  }
  QWidget* window = widgets.WindowWidget(0);
  window->activateWindow();
  return QTest::qWaitForWindowActive(window) ? window : nullptr;
}

template <typename T>
T* WidgetOf(QtWidgetServices& widgets, int control) {
  return qobject_cast<T*>(widgets.ControlWidget(control));
}

// The control events of one control among `events`; window -1: of any window.
inline int CountControlEvents(const std::deque<Event>& events, int control, int window = -1) {
  int count = 0;
  for (const Event& event : events) {
    count += event.kind == EventKind::Control && event.control == control &&
                     (window < 0 || event.window == window)
                 ? 1
                 : 0;
  }
  return count;
}

inline int CountKind(const std::deque<Event>& events, EventKind kind) {
  int count = 0;
  for (const Event& event : events) {
    count += event.kind == kind ? 1 : 0;
  }
  return count;
}

// A mouse click at the centre of a row's first cell.
inline void ClickRow(QtWidgetServices& widgets, int control, int row,
                     Qt::MouseButton button = Qt::LeftButton,
                     Qt::KeyboardModifiers modifiers = {}) {
  auto* view = WidgetOf<QAbstractItemView>(widgets, control);
  const QRect cell = view->visualRect(view->model()->index(row, 0));
  QTest::mouseClick(view->viewport(), button, modifiers, cell.center());
}

// The texts a view shows in one column, read through its model as it paints them.
inline std::vector<std::string> ShownColumn(QtWidgetServices& widgets, int control, int column) {
  widgets.PublishPendingRows();
  const QAbstractItemModel* model = WidgetOf<QAbstractItemView>(widgets, control)->model();
  std::vector<std::string> texts;
  for (int row = 0; row < model->rowCount(); ++row) {
    texts.push_back(model->data(model->index(row, column)).toString().toStdString());
  }
  return texts;
}

// The rows of a list the program reads as selected, in order.
inline std::vector<int> SelectedRows(const QtWidgetServices& widgets, int control) {
  std::vector<int> rows;
  for (int row = 0; row < widgets.CountRows(control); ++row) {
    if (widgets.IsRowSelected(control, row)) {
      rows.push_back(row);
    }
  }
  return rows;
}

// The main window's file list (control 2) with its two columns, at its place.
inline void CreateFilesView(QtWidgetServices& widgets) {
  widgets.CreateControl(2, ControlKind::ListView, {5, 46, 195, 384}, "Name", {});
  widgets.AddColumn(2, 0, "Name", 150);
  widgets.AddColumn(2, 1, "Größe", 100);
}

// The ToDelete window's list (control 201), several rows selectable, without columns.
inline void CreateToDeleteView(QtWidgetServices& widgets) {
  ControlOptions multiple;
  multiple.multipleSelection = true;
  multiple.fullRowSelection = true;
  widgets.CreateControl(201, ControlKind::ListView, {5, 52, 490, 243}, "Name", multiple);
}

}  // namespace kopiensieb::testing

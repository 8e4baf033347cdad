// The in-memory backend and the Qt one, held to each other (tests/support/
// widget_differential.h): the real Qt widgets are read back through each view's model (rows),
// its selection model (selections, the current row), and the widgets' own enabled flags,
// texts and progress values. Whenever the rows have been handed to the views, the whole dump
// the Qt script driver reads back from the widgets must be the in-memory backend's dump too.

#include <QAbstractItemView>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <optional>
#include <string>

#include "platform/headless/json_dump.h"
#include "platform/qt/driver/qt_script_target.h"
#include "platform/qt/qt_widget_services.h"
#include "widget_differential.h"

namespace {

using kopiensieb::QtWidgetServices;

class QtShownControls final : public kopiensieb::testing::ShownControls {
 public:
  QtShownControls()
      : qt_([](const std::string&, const std::string&) { return std::string(); },
            [](const std::string&, const std::string&, kopiensieb::MessageIcon) {}),
        readBack_(qt_) {}

  kopiensieb::WidgetServices& Services() override { return qt_; }

  bool Enabled(int control) override { return qt_.ControlWidget(control)->isEnabled(); }

  std::string Text(int control) override {
    QWidget* widget = qt_.ControlWidget(control);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      return button->text().toStdString();
    }
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
      return field->text().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      return label->text().toStdString();
    }
    return {};
  }

  int Progress(int control) override {
    auto* bar = qobject_cast<QProgressBar*>(qt_.ControlWidget(control));
    return bar == nullptr ? -1 : bar->value();
  }

  void Publish() override { qt_.PublishPendingRows(); }

  int RowsShown(int list) override { return View(list)->model()->rowCount(); }
  int ColumnsShown(int list) override { return View(list)->model()->columnCount(); }

  std::string Cell(int list, int row, int column) override {
    const QAbstractItemModel* model = View(list)->model();
    return model->data(model->index(row, column)).toString().toStdString();
  }

  bool RowShownSelected(int list, int row) override {
    const QAbstractItemView* view = View(list);
    return view->selectionModel()->isSelected(view->model()->index(row, 0));
  }

  int CurrentRow(int list) override { return View(list)->selectionModel()->currentIndex().row(); }

  std::optional<std::string> ShownDump() override {
    return kopiensieb::JsonLine(kopiensieb::DumpState(readBack_.Shown(), 0, false));
  }

 private:
  QAbstractItemView* View(int list) const {
    return qobject_cast<QAbstractItemView*>(qt_.ControlWidget(list));
  }

  QtWidgetServices qt_;
  kopiensieb::QtScriptTarget readBack_;
};

}  // namespace

class WidgetBackendsDifferentialTest : public QObject {
  Q_OBJECT

 private slots:
  void sameCallsShowTheSameOnBothBackends() {
    const std::string report = kopiensieb::testing::RunWidgetDifferential(
        [] { return std::make_unique<QtShownControls>(); });
    QVERIFY2(report.empty(), report.c_str());
  }
};

QTEST_MAIN(WidgetBackendsDifferentialTest)
#include "widget_backends_differential_test.moc"

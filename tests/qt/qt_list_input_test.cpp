// The Qt widget services where they once showed or reported something else than the program
// asked for: rows removed from the lists, the current row across a change of rows, control
// characters in names, clicks on chosen rows, input arriving faster than its passes, and
// lower-casing as typed. Real widgets on the offscreen platform, input through QTest.

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/qt/qt_widget_services.h"
#include "qt_widget_test_support.h"

using kopiensieb::ControlKind;
using kopiensieb::ControlOptions;
using kopiensieb::Event;
using kopiensieb::EventKind;
using kopiensieb::QtWidgetServices;
using kopiensieb::testing::CountControlEvents;

namespace {

// The controls of the main window this file uses, with the program's numbers and places.
constexpr int kFilesView = 2;
constexpr int kGroupsBox = 4;
constexpr int kMembersBox = 6;
constexpr int kPatternField = 14;
constexpr int kPatternButton = 11;

}  // namespace

class QtListInputTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QtWidgetServices> widgets_;

  template <typename T>
  T* Widget(int control) {
    return kopiensieb::testing::WidgetOf<T>(*widgets_, control);
  }

  std::vector<std::string> ShownColumn(int control, int column) {
    return kopiensieb::testing::ShownColumn(*widgets_, control, column);
  }

  void FillFilesView(int rows) {
    for (int row = 0; row < rows; ++row) {
      widgets_->AddRow(kFilesView, -1, "datei" + std::to_string(row));
      widgets_->SetRowText(kFilesView, row, 1, std::to_string(row) + " Bytes");
    }
    widgets_->PublishPendingRows();
  }

  // QTest::keyClicks types Latin-1 only; this sends any character as the text of a key.
  static void TypeText(QWidget* field, const QString& text) {
    for (const QChar character : text) {
      QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
  }

  void ClickRow(int control, int row, Qt::MouseButton button = Qt::LeftButton,
                Qt::KeyboardModifiers modifiers = {}) {
    kopiensieb::testing::ClickRow(*widgets_, control, row, button, modifiers);
  }

 private slots:
  void init() {
    widgets_ = std::make_unique<QtWidgetServices>(
        [](const std::string&, const std::string&) { return std::string(); },
        [](const std::string&, const std::string&, kopiensieb::MessageIcon) {});
    QVERIFY(kopiensieb::testing::OpenActiveMainWindow(*widgets_) != nullptr);
    kopiensieb::testing::CreateFilesView(*widgets_);
    widgets_->CreateControl(kGroupsBox, ControlKind::ListBox, {205, 46, 400, 259}, "", {});
    widgets_->CreateControl(kMembersBox, ControlKind::ListBox, {205, 326, 430, 79}, "", {});
    ControlOptions lowerCase;
    lowerCase.lowerCase = true;
    widgets_->CreateControl(kPatternField, ControlKind::Field, {422, 435, 212, 20}, "", lowerCase);
    widgets_->CreateControl(kPatternButton, ControlKind::Button, {422, 410, 212, 20},
                            "Lösche Dateien mit spez. Endung", {});
    widgets_->TakeQueuedEvents();
  }

  void cleanup() { widgets_.reset(); }

  // Each list, with one or several rows removed: the rows in front of, between and behind
  // the removed ones show their own texts, in every column.
  void rowsAroundRemovedOnesKeepTheirTexts() {
    for (const int box : {kGroupsBox, kMembersBox}) {
      for (const char* text : {"/x/a.bin", "/x/sub/a-kopie.bin", "/x/Übersicht.bin"}) {
        widgets_->AddRow(box, -1, text);
      }
      widgets_->PublishPendingRows();
      widgets_->RemoveRow(box, 1);
      QCOMPARE(ShownColumn(box, 0), (std::vector<std::string>{"/x/a.bin", "/x/Übersicht.bin"}));
    }
    FillFilesView(6);
    widgets_->RemoveRows(kFilesView, {2, 4});
    QCOMPARE(ShownColumn(kFilesView, 0),
             (std::vector<std::string>{"datei0", "datei1", "datei3", "datei5"}));
    QCOMPARE(ShownColumn(kFilesView, 1),
             (std::vector<std::string>{"0 Bytes", "1 Bytes", "3 Bytes", "5 Bytes"}));
  }

  // The chosen row stays the current one when rows above it go: the arrow key moves on
  // from there.
  void currentRowFollowsItsRowAcrossRemovals() {
    FillFilesView(6);
    ClickRow(kFilesView, 3);
    widgets_->TakeQueuedEvents();
    widgets_->RemoveRow(kFilesView, 0);
    widgets_->PublishPendingRows();
    auto* view = Widget<QTreeView>(kFilesView);
    QCOMPARE(view->selectionModel()->currentIndex().row(), 2);
    QVERIFY(widgets_->IsRowSelected(kFilesView, 2));
    QTest::keyClick(view, Qt::Key_Down);
    widgets_->TakeQueuedEvents();
    QCOMPARE(widgets_->SelectedRow(kFilesView), 3);
    QCOMPARE(widgets_->RowText(kFilesView, 3, 0), std::string("datei4"));
  }

  // What the program reads row by row is what the view has selected, also after the user or
  // the program changed the selection since the last reading.
  void rowSelectionReadsFollowEveryChange() {
    widgets_->ChooseContainer(0);
    kopiensieb::testing::CreateToDeleteView(*widgets_);
    for (int row = 0; row < 8; ++row) {
      widgets_->AddRow(201, -1, "f" + std::to_string(row));
    }
    widgets_->PublishPendingRows();
    const auto selectedRows = [this] { return kopiensieb::testing::SelectedRows(*widgets_, 201); };
    QCOMPARE(selectedRows(), std::vector<int>{});
    ClickRow(201, 1);
    ClickRow(201, 5, Qt::LeftButton, Qt::ControlModifier);
    widgets_->TakeQueuedEvents();
    QCOMPARE(selectedRows(), (std::vector<int>{1, 5}));
    // Shift extends from the last row clicked, 5, and keeps what Ctrl chose before it.
    ClickRow(201, 3, Qt::LeftButton, Qt::ShiftModifier);
    widgets_->TakeQueuedEvents();
    QCOMPARE(selectedRows(), (std::vector<int>{1, 3, 4, 5}));
    widgets_->SetRowSelected(201, 2, true, false);
    QCOMPARE(selectedRows(), (std::vector<int>{1, 2, 3, 4, 5}));
    widgets_->SetRowSelected(201, 2, false, false);
    widgets_->SetRowSelected(201, 7, true, false);
    QCOMPARE(selectedRows(), (std::vector<int>{1, 3, 4, 5, 7}));
    widgets_->PublishPendingRows();
    QCOMPARE(selectedRows(), (std::vector<int>{1, 3, 4, 5, 7}));
    widgets_->RemoveRows(201, {0, 4});
    QCOMPARE(selectedRows(), (std::vector<int>{0, 2, 3, 5}));
    widgets_->RemoveAllRows(201);
    widgets_->AddRow(201, -1, "(keine Dateien zum Löschen)");
    QCOMPARE(selectedRows(), std::vector<int>{});
  }

  // A name holding a line break or another control character stays one row of one line.
  void controlCharactersInNamesShowAsVisibleMarks() {
    widgets_->AddRow(kMembersBox, -1, "/x/zwei\nzeilen.bin");
    widgets_->AddRow(kFilesView, -1, "tab\there\r");
    QCOMPARE(ShownColumn(kMembersBox, 0), std::vector<std::string>{"/x/zwei␊zeilen.bin"});
    QCOMPARE(ShownColumn(kFilesView, 0), std::vector<std::string>{"tab␉here␍"});
    auto* view = Widget<QTreeView>(kFilesView);
    const int oneLine = view->fontMetrics().height();
    QVERIFY(view->visualRect(view->model()->index(0, 0)).height() < 2 * oneLine);
    QCOMPARE(widgets_->RowText(kMembersBox, 0, 0), std::string("/x/zwei\nzeilen.bin"));
  }

  // Every click on a row reports, whichever button, also one on a row that is already
  // chosen; one mouse action reports once.
  void everyClickOnARowReportsOnce_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("button");
    QTest::newRow("list view, left") << kFilesView << static_cast<int>(Qt::LeftButton);
    QTest::newRow("list view, right") << kFilesView << static_cast<int>(Qt::RightButton);
    QTest::newRow("list box, left") << kGroupsBox << static_cast<int>(Qt::LeftButton);
    QTest::newRow("list box, right") << kGroupsBox << static_cast<int>(Qt::RightButton);
  }

  void everyClickOnARowReportsOnce() {
    QFETCH(int, control);
    QFETCH(int, button);
    for (int row = 0; row < 3; ++row) {
      widgets_->AddRow(control, -1, "zeile" + std::to_string(row));
    }
    widgets_->PublishPendingRows();
    const auto mouseButton = static_cast<Qt::MouseButton>(button);
    ClickRow(control, 1, Qt::LeftButton);
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), control), 1);
    QCOMPARE(widgets_->SelectedRow(control), 1);
    // Again on the chosen row: nothing changes, and still it is news.
    ClickRow(control, 1, mouseButton);
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), control), 1);
    QCOMPARE(widgets_->SelectedRow(control), 1);
    ClickRow(control, 2, mouseButton);
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), control), 1);
    QCOMPARE(widgets_->SelectedRow(control), 2);
  }

  // Keys typed into the pattern field and a click on the button its pass enables arrive in
  // one go: the click waits for that pass and then counts.
  void inputWaitsForThePassOfTheEventsBeforeIt() {
    widgets_->SetEnabled(kPatternButton, false);
    auto* field = Widget<QLineEdit>(kPatternField);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    widgets_->TakeQueuedEvents();
    QTest::keyClicks(field, "*.bak");
    QTest::mouseClick(Widget<QPushButton>(kPatternButton), Qt::LeftButton);
    // Should the click be lost, a close request ends the wait below.
    QTimer::singleShot(3000, widgets_->WindowWidget(0),
                       [this] { widgets_->WindowWidget(0)->close(); });
    std::vector<std::string> handled;
    for (int passes = 0; passes < 100; ++passes) {
      const Event event = widgets_->WaitForEvent();
      if (event.kind == EventKind::CloseRequest) {
        break;
      }
      if (event.kind != EventKind::Control) {
        continue;
      }
      handled.push_back(std::to_string(event.control) + ":" + widgets_->GetText(kPatternField));
      // The pass: the button is there for a pattern.
      widgets_->SetEnabled(kPatternButton, !widgets_->GetText(kPatternField).empty());
      if (event.control == kPatternButton) {
        break;
      }
    }
    // One pass per key, each seeing the text up to that key, then the click.
    const std::vector<std::string> expected{"14:*",    "14:*.",    "14:*.b",
                                            "14:*.ba", "14:*.bak", "11:*.bak"};
    QCOMPARE(handled, expected);
  }

  // The field lower-cases one character at a time, as the in-memory one does: the same text
  // typed into both reads the same.
  void lowerCaseFieldAgreesWithTheInMemoryOne_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("ascii") << QStringLiteral("*.BAK Tmp");
    QTest::newRow("umlauts") << QString::fromUtf8("ÄÖÜ ẞ");
    QTest::newRow("dotted capital I") << QString::fromUtf8("İSTANBUL.TXT");
    QTest::newRow("greek with final sigma") << QString::fromUtf8("ΟΔΟΣ.DOC");
    QTest::newRow("cyrillic") << QString::fromUtf8("ПРИВЕТ.TXT");
    QTest::newRow("title-case digraph") << QString::fromUtf8("ǅ ǈ ǋ");
    QTest::newRow("kelvin and angstrom signs") << QString::fromUtf8("\u212A \u212B");
    QTest::newRow("fullwidth") << QString::fromUtf8("ＡＢＣ");
    QTest::newRow("already lower, digits, signs") << QString::fromUtf8("ß ı 09 *?");
  }

  void lowerCaseFieldAgreesWithTheInMemoryOne() {
    QFETCH(QString, typed);
    auto* field = Widget<QLineEdit>(kPatternField);
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    TypeText(field, typed);
    widgets_->TakeQueuedEvents();
    QCOMPARE(widgets_->GetText(kPatternField), kopiensieb::TypedLowerCase(typed.toStdString()));
  }
};

QTEST_MAIN(QtListInputTest)
#include "qt_list_input_test.moc"

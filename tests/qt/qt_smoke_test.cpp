// The Qt widget services, driven the way a user would: real widgets on the offscreen platform,
// clicks and keys through QTest, and the events they raise read back through the interface.

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "main_window_table.h"
#include "platform/posix/posix_file_services.h"
#include "platform/qt/qt_widget_services.h"
#include "qt_widget_test_support.h"
#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "temp_folder.h"

namespace kopiensieb::testing {
namespace {

const WindowLayout kToDeleteWindowLayout{.number = 1,
                                         .clientWidth = 600,
                                         .clientHeight = 300,
                                         .title = "ToDelete-Liste",
                                         .placement = WindowPlacement::CentredOnActiveWindow,
                                         .hasCloseBox = false};

QRect GeometryRect(Geometry geometry) {
  return QRect(geometry.x, geometry.y, geometry.width, geometry.height);
}

// The Qt class that stands for each kind of control.
const char* QtClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return "QPushButton";
    case ControlKind::Field:
      return "QLineEdit";
    case ControlKind::Label:
      return "QLabel";
    case ControlKind::ListView:
      return "QTreeView";
    case ControlKind::ListBox:
      return "QListView";
    case ControlKind::Progress:
      return "QProgressBar";
  }
  return "";
}

}  // namespace

class QtSmokeTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QtWidgetServices> widgets_;
  PosixFileServices files_;
  std::unique_ptr<Program> program_;
  std::vector<std::string> chooserTitles_;
  std::string chooserAnswer_;
  std::vector<std::string> messageBoxes_;

  // The program on the real widgets, its main window built.
  bool BuildProgram() {
    program_ = std::make_unique<Program>(*widgets_, files_);
    return BuildMainWindow(*program_);
  }

  QWidget* OpenMainWindow() { return OpenActiveMainWindow(*widgets_); }

  template <typename T>
  T* Widget(int control) {
    return WidgetOf<T>(*widgets_, control);
  }

  // Runs one pass for every queued event, in order, as the event loop would; returns how
  // many of them were control events of this control.
  int RunQueuedPasses(Program& program, int window, int control) {
    const std::deque<Event> events = widgets_->TakeQueuedEvents();
    for (const Event& event : events) {
      RunPass(program, event);
    }
    return CountControlEvents(events, control, window);
  }

  // Before a user's action: what is queued gets its passes, then one more pass, so that the
  // availability rules are up to date.
  void CatchUp(Program& program, int window) {
    RunQueuedPasses(program, window, -2);
    RunPass(program, Event{EventKind::Other, window, -1});
  }

  // A user's click on a button, then the passes it starts.
  bool ClickButton(Program& program, int window, int control) {
    CatchUp(program, window);
    auto* button = Widget<QPushButton>(control);
    if (button == nullptr || !button->isEnabled()) {
      return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    return RunQueuedPasses(program, window, control) == 1;
  }

  bool ClickListRow(Program& program, int window, int control, int row) {
    CatchUp(program, window);
    widgets_->PublishPendingRows();
    auto* view = Widget<QAbstractItemView>(control);
    if (view == nullptr || !view->isEnabled() || row >= view->model()->rowCount()) {
      return false;
    }
    ClickRow(*widgets_, control, row);
    return RunQueuedPasses(program, window, control) >= 1;
  }

 private slots:
  void init() {
    chooserTitles_.clear();
    messageBoxes_.clear();
    chooserAnswer_.clear();
    widgets_ = std::make_unique<QtWidgetServices>(
        [this](const std::string& title, const std::string&) {
          chooserTitles_.push_back(title);
          return chooserAnswer_;
        },
        [this](const std::string& title, const std::string& text, MessageIcon icon) {
          messageBoxes_.push_back(title + "|" + text + "|" +
                                  (icon == MessageIcon::Error ? "error" : "none"));
        });
  }

  void cleanup() {
    program_.reset();
    widgets_.reset();
  }

  void mainWindowHasFixedClientSizeTitleIconAndCloseBoxOnly() {
    QWidget* window = OpenMainWindow();
    QVERIFY(window != nullptr);
    QCOMPARE(window->size(), QSize(640, 480));
    QCOMPARE(window->minimumSize(), QSize(640, 480));
    QCOMPARE(window->maximumSize(), QSize(640, 480));
    QCOMPARE(window->windowTitle(), QStringLiteral("Kopiensieb"));
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!window->windowIcon().pixmap(32, 32).isNull());
    QCOMPARE(window->windowIcon().availableSizes().value(0), QSize(32, 32));
    // Centred on the screen: half the screen minus half the outer size, integer halves.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect frame = window->frameGeometry();
    QCOMPARE(frame.x(), screen.x() + screen.width() / 2 - frame.width() / 2);
    QCOMPARE(frame.y(), screen.y() + screen.height() / 2 - frame.height() / 2);
    // A second window with the same number is refused.
    QVERIFY(!widgets_->OpenWindow(kQtMainWindowLayout));
    QVERIFY(!widgets_->ChooseContainer(7));
  }

  void toDeleteWindowIsCentredOnTheActiveWindowAndClampedAtZero() {
    QWidget* main = OpenMainWindow();
    QVERIFY(main != nullptr);
    main->move(100, 100);
    QVERIFY(widgets_->OpenWindow(kToDeleteWindowLayout));
    QWidget* list = widgets_->WindowWidget(1);
    QVERIFY(!list->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!list->windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(list->windowFlags().testFlag(Qt::WindowTitleHint));
    QCOMPARE(list->size(), QSize(600, 300));
    const QRect mainFrame = main->frameGeometry();
    QCOMPARE(list->frameGeometry().x(),
             mainFrame.x() + mainFrame.width() / 2 - list->frameGeometry().width() / 2);
    QCOMPARE(list->frameGeometry().y(),
             mainFrame.y() + mainFrame.height() / 2 - list->frameGeometry().height() / 2);
    widgets_->CloseWindow(1);
    QVERIFY(widgets_->WindowWidget(1) == nullptr);

    // The main window partly off the top-left corner: the new window's left edge is 0.
    main->move(-200, 20);
    main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main));
    QVERIFY(widgets_->OpenWindow(kToDeleteWindowLayout));
    QCOMPARE(widgets_->WindowWidget(1)->frameGeometry().x(), 0);
    QVERIFY(widgets_->WindowWidget(1)->frameGeometry().y() > 0);
  }

  void controlsSitAtTheirGeometryAndCaptionsFit() {
    QVERIFY(OpenMainWindow() != nullptr);
    struct Caption {
      int number;
      Geometry geometry;
      const char* text;
    };
    // The longest captions of both windows, at their real widths.
    const std::vector<Caption> captions{
        {0, {5, 5, 95, 20}, "Pfad hinzufügen"},
        {9, {205, 5, 197, 20}, "Doppelte Dateien suchen"},
        {13, {407, 5, 197, 20}, "Gleichnamige Dateien suchen"},
        {7, {205, 410, 212, 20}, "Lösche markierte Datei"},
        {10, {205, 435, 212, 20}, "Lösche alle außer markierter"},
        {11, {422, 410, 212, 20}, "Lösche Dateien mit spez. Endung"},
        {202, {500, 52, 95, 20}, "Mark. verwerfen"},
        {205, {500, 92, 95, 20}, "Alles markieren"},
    };
    for (const Caption& caption : captions) {
      widgets_->CreateControl(caption.number, ControlKind::Button, caption.geometry, caption.text,
                              {});
      auto* button = Widget<QPushButton>(caption.number);
      QVERIFY(button != nullptr);
      QCOMPARE(button->geometry(), GeometryRect(caption.geometry));
      QCOMPARE(button->text(), QString::fromUtf8(caption.text));
      QCOMPARE(widgets_->GetText(caption.number), std::string(caption.text));
      // The caption and a few pixels of the button's own frame on either side.
      const int textWidth = QFontMetrics(button->font()).horizontalAdvance(button->text());
      QVERIFY2(textWidth + 8 <= caption.geometry.width,
               qPrintable(QStringLiteral("%1 is %2 px wide").arg(button->text()).arg(textWidth)));
    }

    ControlOptions centredSunken;
    centredSunken.centred = true;
    centredSunken.sunken = true;
    const std::string hintText =
        "Markieren sie die Dateien,\rdie sie löschen wollen,\rmit STRG oder SHIFT";
    widgets_->CreateControl(200, ControlKind::Label, {5, 5, 590, 42}, hintText, centredSunken);
    auto* hint = Widget<QLabel>(200);
    QVERIFY(hint != nullptr);
    QCOMPARE(hint->text().count(QLatin1Char('\n')), 2);
    QVERIFY(hint->alignment().testFlag(Qt::AlignHCenter));
    QCOMPARE(hint->frameShadow(), QFrame::Sunken);
    // Three lines of the control font fit the 42-pixel hint.
    QVERIFY(3 * QFontMetrics(hint->font()).lineSpacing() + 2 * hint->frameWidth() <= 42);
    QCOMPARE(widgets_->GetText(200), hintText);

    widgets_->CreateControl(1, ControlKind::Label, {5, 30, 195, 16}, "Alle Dateien:", {});
    auto* label = Widget<QLabel>(1);
    QCOMPARE(label->geometry(), QRect(5, 30, 195, 16));
    QVERIFY(label->alignment().testFlag(Qt::AlignLeft));
    QCOMPARE(label->frameShape(), QFrame::NoFrame);
    // Markup in a text (a file name, say) is shown as it stands.
    widgets_->SetText(1, "<b>fett</b>");
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->text(), QStringLiteral("<b>fett</b>"));

    widgets_->CreateControl(100, ControlKind::Progress, {610, 80, 25, 225}, "0", {});
    auto* bar = Widget<QProgressBar>(100);
    QCOMPARE(bar->geometry(), QRect(610, 80, 25, 225));
    QCOMPARE(bar->orientation(), Qt::Vertical);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
    widgets_->SetProgress(100, 140);
    QCOMPARE(bar->value(), 100);
    widgets_->SetProgress(100, 37);
    QCOMPARE(bar->value(), 37);

    // A number is used once; a second control with it is not created.
    widgets_->CreateControl(1, ControlKind::Button, {0, 0, 10, 10}, "x", {});
    QCOMPARE(widgets_->ControlWidget(1), static_cast<QWidget*>(label));

    // Every control shares one font of about 8 points.
    QCOMPARE(label->font(), Widget<QPushButton>(0)->font());
    QVERIFY(bar->font().pixelSize() >= 9 && bar->font().pixelSize() <= 11);
  }

  void statusBarFieldsLieAlongTheBottomAndRepaintCheaply() {
    QWidget* window = OpenMainWindow();
    QVERIFY(window != nullptr);
    QVERIFY(widgets_->CreateStatusBar(0, {200, 440}));
    QVERIFY(!widgets_->CreateStatusBar(5, {200}));
    QWidget* activity = widgets_->StatusFieldWidget(0);
    QWidget* detail = widgets_->StatusFieldWidget(1);
    QVERIFY(activity != nullptr && detail != nullptr);
    QVERIFY(widgets_->StatusFieldWidget(2) == nullptr);
    QCOMPARE(activity->geometry(), QRect(0, 460, 200, 20));
    QCOMPARE(detail->geometry(), QRect(200, 460, 440, 20));
    widgets_->SetStatusText(1, "Programmed by Tesmarin");
    QCOMPARE(qobject_cast<QLabel*>(detail)->text(), QStringLiteral("Programmed by Tesmarin"));

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 200000; ++i) {
      widgets_->SetStatusText(1, std::to_string(i) + " / 200000 Dateien");
    }
    qInfo("200,000 status writes took %lld ms", static_cast<long long>(timer.elapsed()));
    QCOMPARE(qobject_cast<QLabel*>(detail)->text(), QStringLiteral("199999 / 200000 Dateien"));
  }

  void buttonClicksRaiseOneControlEventUnlessDisabled() {
    QVERIFY(OpenMainWindow() != nullptr);
    widgets_->CreateControl(9, ControlKind::Button, {205, 5, 197, 20}, "Doppelte Dateien suchen",
                            {});
    widgets_->CreateControl(13, ControlKind::Button, {407, 5, 197, 20},
                            "Gleichnamige Dateien suchen", {});
    widgets_->TakeQueuedEvents();

    QTest::mouseClick(Widget<QPushButton>(9), Qt::LeftButton);
    std::deque<Event> events = widgets_->TakeQueuedEvents();
    QCOMPARE(CountControlEvents(events, 9, 0), 1);
    QCOMPARE(CountKind(events, EventKind::Control), 1);

    widgets_->SetEnabled(13, false);
    QVERIFY(!widgets_->IsEnabled(13));
    QVERIFY(widgets_->IsEnabled(9));
    QTest::mouseClick(Widget<QPushButton>(13), Qt::LeftButton);
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);

    // Changes the program makes are not news to it.
    widgets_->SetText(9, "Suche...");
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);

    // The queue hands the click to the event loop's wait.
    QTest::mouseClick(Widget<QPushButton>(9), Qt::LeftButton);
    Event event = widgets_->WaitForEvent();
    while (event.kind == EventKind::Other) {
      event = widgets_->WaitForEvent();
    }
    QCOMPARE(static_cast<int>(event.kind), static_cast<int>(EventKind::Control));
    QCOMPARE(event.window, 0);
    QCOMPARE(event.control, 9);
  }

  void otherEventsAreCoalescedAndCloseRequestsLeaveTheWindowOpen() {
    QWidget* window = OpenMainWindow();
    QVERIFY(window != nullptr);
    widgets_->TakeQueuedEvents();
    for (int i = 0; i < 20; ++i) {
      QTest::mouseMove(window, QPoint(300 + i, 300));
    }
    const std::deque<Event> moves = widgets_->TakeQueuedEvents();
    QCOMPARE(static_cast<int>(moves.size()), 1);
    QCOMPARE(static_cast<int>(moves.front().kind), static_cast<int>(EventKind::Other));
    QCOMPARE(moves.front().window, 0);

    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    const std::deque<Event> closing = widgets_->TakeQueuedEvents();
    QCOMPARE(CountKind(closing, EventKind::CloseRequest), 1);
    QCOMPARE(closing.back().window, 0);
  }

  void textFieldsReportEditsAndFocusAndLowerCaseWhereAsked() {
    QWidget* window = OpenMainWindow();
    QVERIFY(window != nullptr);
    ControlOptions lowerCase;
    lowerCase.lowerCase = true;
    widgets_->CreateControl(12, ControlKind::Field, {105, 5, 95, 20}, "*.*", {});
    widgets_->CreateControl(14, ControlKind::Field, {422, 435, 212, 20}, "*.bak *.tmp", lowerCase);
    QCOMPARE(Widget<QLineEdit>(14)->geometry(), QRect(422, 435, 212, 20));
    QCOMPARE(widgets_->GetText(12), std::string("*.*"));
    QCOMPARE(widgets_->GetText(14), std::string("*.bak *.tmp"));
    widgets_->TakeQueuedEvents();

    auto* deletePatterns = Widget<QLineEdit>(14);
    deletePatterns->setFocus();
    QTRY_VERIFY(deletePatterns->hasFocus());
    QVERIFY(CountControlEvents(widgets_->TakeQueuedEvents(), 14, 0) >= 1);

    deletePatterns->setCursorPosition(0);
    QTest::keyClicks(deletePatterns, "ÄB");
    // Each key waits for the event of the one before to be handled; taking the events out of
    // the queue, as the passes would, hands them on.
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), 14, 0), 2);
    QCOMPARE(widgets_->GetText(14), std::string("äb*.bak *.tmp"));
    QCOMPARE(deletePatterns->cursorPosition(), 2);

    auto* scanPatterns = Widget<QLineEdit>(12);
    scanPatterns->setFocus();  // the other field loses the focus: both report
    QTRY_VERIFY(scanPatterns->hasFocus());
    const std::deque<Event> focusMoved = widgets_->TakeQueuedEvents();
    QCOMPARE(CountControlEvents(focusMoved, 14, 0), 1);
    QCOMPARE(CountControlEvents(focusMoved, 12, 0), 1);
    scanPatterns->end(false);
    QTest::keyClicks(scanPatterns, "X");
    QCOMPARE(widgets_->GetText(12), std::string("*.*X"));
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), 12, 0), 1);

    widgets_->SetText(14, "*.TMP");
    QCOMPARE(widgets_->GetText(14), std::string("*.TMP"));
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);

    // The program reads at most 4999 characters of a field.
    widgets_->SetText(12, std::string(6000, 'a'));
    QCOMPARE(widgets_->GetText(12).size(), std::size_t{4999});
  }

  void listBoxReportsSelectionAndDoubleClickButNotProgramChanges() {
    QVERIFY(OpenMainWindow() != nullptr);
    widgets_->CreateControl(4, ControlKind::ListBox, {205, 46, 400, 259}, "", {});
    auto* box = Widget<QListView>(4);
    QVERIFY(box != nullptr);
    QCOMPARE(box->geometry(), QRect(205, 46, 400, 259));
    QCOMPARE(box->selectionMode(), QAbstractItemView::SingleSelection);
    for (int i = 0; i < 5; ++i) {
      widgets_->AddRow(4, -1, "Gruppe " + std::to_string(i));
    }
    widgets_->AddRow(4, 0, "vorne");
    QCOMPARE(widgets_->CountRows(4), 6);
    QCOMPARE(widgets_->RowText(4, 0, 0), std::string("vorne"));
    QCOMPARE(widgets_->RowText(4, 5, 0), std::string("Gruppe 4"));
    QCOMPARE(widgets_->SelectedRow(4), -1);

    widgets_->SelectRow(4, 2);
    QCOMPARE(widgets_->SelectedRow(4), 2);
    QVERIFY(widgets_->IsRowSelected(4, 2));
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);

    // A row added above the selection moves the selection along with its row.
    widgets_->AddRow(4, 0, "ganz vorne");
    QCOMPARE(widgets_->SelectedRow(4), 3);
    QCOMPARE(widgets_->RowText(4, 3, 0), std::string("Gruppe 1"));

    widgets_->PublishPendingRows();
    const QModelIndex fifth = box->model()->index(4, 0);
    QCOMPARE(box->model()->data(fifth).toString(), QStringLiteral("Gruppe 2"));
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, box->visualRect(fifth).center());
    QCOMPARE(widgets_->SelectedRow(4), 4);
    QCOMPARE(CountControlEvents(widgets_->TakeQueuedEvents(), 4, 0), 1);

    QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, box->visualRect(fifth).center());
    QVERIFY(CountControlEvents(widgets_->TakeQueuedEvents(), 4, 0) >= 1);

    // Neither a Ctrl+click on the chosen row nor a click below the last row unchooses it.
    QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      box->visualRect(fifth).center());
    QCOMPARE(widgets_->SelectedRow(4), 4);
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(10, 250));
    QCOMPARE(widgets_->SelectedRow(4), 4);
    widgets_->TakeQueuedEvents();

    // Removing the selected row leaves none selected; removing one above shifts it.
    widgets_->SelectRow(4, 4);
    widgets_->RemoveRow(4, 1);
    QCOMPARE(widgets_->SelectedRow(4), 3);
    widgets_->RemoveRow(4, 3);
    QCOMPARE(widgets_->SelectedRow(4), -1);
    widgets_->SelectRow(4, -1);
    QCOMPARE(widgets_->SelectedRow(4), -1);
    widgets_->RemoveAllRows(4);
    QCOMPARE(widgets_->CountRows(4), 0);
    widgets_->PublishPendingRows();
    QCOMPARE(box->model()->rowCount(), 0);
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);
  }

  void listViewKeepsMultipleSelectionAcrossRowChanges() {
    QVERIFY(OpenMainWindow() != nullptr);
    CreateToDeleteView(*widgets_);
    widgets_->AddColumn(201, 0, "Name", 150);
    widgets_->AddColumn(201, 1, "Pfad", 200);
    widgets_->AddColumn(201, 2, "Größe", 100);
    auto* view = Widget<QTreeView>(201);
    QVERIFY(view != nullptr);
    QCOMPARE(view->geometry(), QRect(5, 52, 490, 243));
    QCOMPARE(view->model()->columnCount(), 3);
    QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Größe"));
    QCOMPARE(view->columnWidth(0), 150);
    QCOMPARE(view->columnWidth(1), 200);
    QCOMPARE(view->columnWidth(2), 100);
    QVERIFY(!view->isSortingEnabled());
    QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);

    for (int i = 0; i < 6; ++i) {
      widgets_->AddRow(201, -1, "f" + std::to_string(i));
      widgets_->SetRowText(201, i, 1, "/tmp/x");
      widgets_->SetRowText(201, i, 2, std::to_string(i) + " Bytes");
    }
    widgets_->PublishPendingRows();
    QCOMPARE(view->model()->data(view->model()->index(4, 2)).toString(), QStringLiteral("4 Bytes"));
    widgets_->TakeQueuedEvents();

    // Ctrl adds single rows, Shift a range, as in any file list.
    const auto clickRow = [this](int row, Qt::KeyboardModifiers modifiers) {
      ClickRow(*widgets_, 201, row, Qt::LeftButton, modifiers);
    };
    clickRow(1, {});
    clickRow(3, Qt::ControlModifier);
    QVERIFY(CountControlEvents(widgets_->TakeQueuedEvents(), 201, 0) >= 2);
    QCOMPARE(SelectedRows(*widgets_, 201), (std::vector<int>{1, 3}));
    clickRow(5, Qt::ShiftModifier);
    widgets_->TakeQueuedEvents();
    QCOMPARE(SelectedRows(*widgets_, 201), (std::vector<int>{1, 3, 4, 5}));

    // Rows removed above and among the selection: the rest keep their selection.
    widgets_->RemoveRows(201, {0, 4});
    QCOMPARE(widgets_->CountRows(201), 4);
    QCOMPARE(widgets_->RowText(201, 2, 0), std::string("f3"));
    QCOMPARE(SelectedRows(*widgets_, 201), (std::vector<int>{0, 2, 3}));  // f1 f2 f3 f5

    // The program's own selection raises nothing and moves the focus where asked.
    widgets_->TakeQueuedEvents();
    widgets_->SetRowSelected(201, 2, false, false);
    widgets_->SetRowSelected(201, 0, true, true);
    QCOMPARE(SelectedRows(*widgets_, 201), (std::vector<int>{0, 3}));
    widgets_->PublishPendingRows();
    QVERIFY(view->selectionModel()->isSelected(view->model()->index(0, 0)));
    QVERIFY(!view->selectionModel()->isSelected(view->model()->index(2, 0)));
    QCOMPARE(view->selectionModel()->currentIndex().row(), 0);
    QCOMPARE(CountKind(widgets_->TakeQueuedEvents(), EventKind::Control), 0);

    widgets_->RemoveAllRows(201);
    widgets_->AddRow(201, -1, "(keine Dateien zum Löschen)");
    QCOMPARE(widgets_->CountRows(201), 1);
    QVERIFY(!widgets_->IsRowSelected(201, 0));
  }

  void singleSelectionListViewKeepsOneRow() {
    QVERIFY(OpenMainWindow() != nullptr);
    CreateFilesView(*widgets_);
    QCOMPARE(Widget<QTreeView>(2)->selectionMode(), QAbstractItemView::SingleSelection);
    for (int i = 0; i < 3; ++i) {
      widgets_->AddRow(2, -1, "n" + std::to_string(i));
    }
    widgets_->SetRowSelected(2, 0, true, false);
    widgets_->SetRowSelected(2, 2, true, false);
    QVERIFY(!widgets_->IsRowSelected(2, 0));
    QVERIFY(widgets_->IsRowSelected(2, 2));
    QCOMPARE(widgets_->SelectedRow(2), 2);
  }

  void hundredThousandRowsFillQuickly() {
    QVERIFY(OpenMainWindow() != nullptr);
    CreateFilesView(*widgets_);
    widgets_->CreateControl(4, ControlKind::ListBox, {205, 46, 400, 259}, "", {});
    auto* view = Widget<QTreeView>(2);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 100000; ++i) {
      widgets_->AddRow(2, -1, "datei_" + std::to_string(i) + ".txt");
      widgets_->SetRowText(2, i, 1, std::to_string(i * 7) + " Bytes");
      widgets_->AddRow(4, -1, "2: datei_" + std::to_string(i) + ".txt, kopie.txt");
    }
    widgets_->PublishPendingRows();
    view->repaint();
    Widget<QListView>(4)->repaint();
    qInfo("100,000 rows into a list view and a list box, shown: %lld ms",
          static_cast<long long>(timer.elapsed()));
    QCOMPARE(widgets_->CountRows(2), 100000);
    QCOMPARE(view->model()->rowCount(), 100000);
    QCOMPARE(view->model()->data(view->model()->index(99999, 1)).toString(),
             QStringLiteral("699993 Bytes"));
    QCOMPARE(Widget<QListView>(4)->model()->rowCount(), 100000);

    // Removing many rows of the long list at once.
    std::vector<int> everyOther;
    for (int i = 0; i < 100000; i += 2) {
      everyOther.push_back(i);
    }
    timer.restart();
    widgets_->RemoveRows(2, everyOther);
    widgets_->PublishPendingRows();
    qInfo("50,000 of them removed in one go: %lld ms", static_cast<long long>(timer.elapsed()));
    QCOMPARE(widgets_->CountRows(2), 50000);
    QCOMPARE(widgets_->RowText(2, 0, 0), std::string("datei_1.txt"));

    // Selecting every row one by one, as "Alles markieren" does.
    CreateToDeleteView(*widgets_);
    for (int i = 0; i < 20000; ++i) {
      widgets_->AddRow(201, -1, std::to_string(i));
    }
    timer.restart();
    for (int i = 0; i < 20000; ++i) {
      widgets_->SetRowSelected(201, i, true, true);
    }
    qInfo("20,000 rows selected one by one: %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY(widgets_->IsRowSelected(201, 0));
    QVERIFY(widgets_->IsRowSelected(201, 19999));
    widgets_->PublishPendingRows();
    auto* selectAllView = Widget<QTreeView>(201);
    QCOMPARE(static_cast<int>(selectAllView->selectionModel()->selectedRows().size()), 20000);
    QCOMPARE(selectAllView->selectionModel()->currentIndex().row(), 19999);
  }

  void closingAWindowFreesItsControlNumbers() {
    QVERIFY(OpenMainWindow() != nullptr);
    QVERIFY(widgets_->OpenWindow(kToDeleteWindowLayout));
    QVERIFY(widgets_->ChooseContainer(1));
    widgets_->CreateControl(204, ControlKind::Button, {500, 275, 95, 20}, "Schließen", {});
    QVERIFY(widgets_->ControlWidget(204) != nullptr);
    widgets_->CloseWindow(1);
    QVERIFY(widgets_->WindowWidget(1) == nullptr);
    QVERIFY(widgets_->ControlWidget(204) == nullptr);
    QVERIFY(!widgets_->IsEnabled(204));
    QCOMPARE(widgets_->GetText(204), std::string());
    // No container is chosen now; a control made without one goes nowhere.
    widgets_->CreateControl(204, ControlKind::Button, {500, 275, 95, 20}, "Schließen", {});
    QVERIFY(widgets_->ControlWidget(204) == nullptr);
    QVERIFY(widgets_->ChooseContainer(0));
    widgets_->CreateControl(204, ControlKind::Button, {500, 275, 95, 20}, "Schließen", {});
    QVERIFY(widgets_->ControlWidget(204) != nullptr);
    QCOMPARE(widgets_->ControlWidget(204)->window(), widgets_->WindowWidget(0));
  }

  void tabMovesAmongEnabledInputControlsInCreationOrder() {
    QWidget* window = OpenMainWindow();
    QVERIFY(window != nullptr);
    widgets_->CreateControl(0, ControlKind::Button, {5, 5, 95, 20}, "Pfad hinzufügen", {});
    widgets_->CreateControl(12, ControlKind::Field, {105, 5, 95, 20}, "*.*", {});
    widgets_->CreateControl(1, ControlKind::Label, {5, 30, 195, 16}, "Alle Dateien:", {});
    widgets_->CreateControl(2, ControlKind::ListView, {5, 46, 195, 384}, "Name", {});
    widgets_->CreateControl(8, ControlKind::Button, {5, 435, 195, 20}, "Zurücksetzen", {});
    widgets_->CreateControl(4, ControlKind::ListBox, {205, 46, 400, 259}, "", {});
    widgets_->CreateControl(100, ControlKind::Progress, {610, 80, 25, 225}, "", {});
    widgets_->CreateControl(15, ControlKind::Button, {610, 5, 25, 20}, "TDL", {});
    widgets_->SetEnabled(8, false);

    widgets_->ControlWidget(0)->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), widgets_->ControlWidget(0));
    const std::vector<int> forward{12, 2, 4, 15, 0};
    // A field that gets the focus reports it, and a key waits until that is handled: taking
    // the queued events hands it on.
    for (const int next : forward) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      widgets_->TakeQueuedEvents();
      QCOMPARE(QApplication::focusWidget(), widgets_->ControlWidget(next));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    widgets_->TakeQueuedEvents();
    QCOMPARE(QApplication::focusWidget(), widgets_->ControlWidget(15));
  }

  void messageBoxAndChooserGoThroughTheirHooks() {
    QVERIFY(OpenMainWindow() != nullptr);
    widgets_->ShowMessageBox("ERROR", "Die folgende Datei konnte nicht gelöscht werden:\r/x",
                             MessageIcon::Error);
    QCOMPARE(static_cast<int>(messageBoxes_.size()), 1);
    QCOMPARE(messageBoxes_[0],
             std::string("ERROR|Die folgende Datei konnte nicht gelöscht werden:\r/x|error"));

    chooserAnswer_ = "/tmp/ordner";
    QCOMPARE(widgets_->ChooseFolder("Pfad hinzufügen...", ""), std::string("/tmp/ordner/"));
    chooserAnswer_ = "/";
    QCOMPARE(widgets_->ChooseFolder("Pfad hinzufügen...", ""), std::string("/"));
    chooserAnswer_.clear();
    QCOMPARE(widgets_->ChooseFolder("Pfad hinzufügen...", "/tmp/"), std::string());
    QCOMPARE(static_cast<int>(chooserTitles_.size()), 3);
  }

  void mainWindowBuiltByTheProgramMatchesItsTable() {
    QVERIFY(BuildProgram());
    Program& program = *program_;
    QWidget* window = widgets_->WindowWidget(kMainWindow);
    QVERIFY(window != nullptr);
    QCOMPARE(window->size(), QSize(640, 480));
    QCOMPARE(window->windowTitle(), QStringLiteral("Kopiensieb"));
    std::vector<QWidget*> created;
    for (const ExpectedControl& control : MainWindowControls()) {
      QWidget* widget = widgets_->ControlWidget(control.number);
      QVERIFY2(widget != nullptr, qPrintable(QString::number(control.number)));
      QCOMPARE(widget->metaObject()->className(), QtClassOf(control.kind));
      const Geometry& geometry = control.geometry;
      QCOMPARE(widget->geometry(), QRect(geometry.x, geometry.y, geometry.width, geometry.height));
      QCOMPARE(widget->parentWidget(), window);
      if (!control.text.empty()) {
        QCOMPARE(widgets_->GetText(control.number), control.text);
      }
      created.push_back(widget);
    }
    // Creation order is the order of the table (and so the order of the focus chain).
    const QObjectList children = window->children();
    std::vector<int> positions;
    for (QWidget* widget : created) {
      positions.push_back(static_cast<int>(children.indexOf(widget)));
    }
    QVERIFY(std::is_sorted(positions.begin(), positions.end()));
    auto* files2 = Widget<QTreeView>(kFilesView);
    QCOMPARE(files2->model()->columnCount(), 2);
    QCOMPARE(files2->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(files2->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Größe"));
    QCOMPARE(files2->columnWidth(0), 150);
    QCOMPARE(files2->columnWidth(1), 100);
    QCOMPARE(widgets_->StatusFieldWidget(0)->geometry(), QRect(0, 460, 200, 20));
    QCOMPARE(widgets_->StatusFieldWidget(1)->geometry(), QRect(200, 460, 440, 20));

    // The first pass writes the welcome texts and switches off what has nothing to act on.
    RunPass(program, Event{EventKind::Other, 0, -1});
    QCOMPARE(qobject_cast<QLabel*>(widgets_->StatusFieldWidget(0))->text(),
             QStringLiteral("Willkommen beim Kopiensieb"));
    QCOMPARE(qobject_cast<QLabel*>(widgets_->StatusFieldWidget(1))->text(),
             QStringLiteral("Programmed by Tesmarin"));
    for (const int off : {4, 6, 7, 8, 9, 10, 11, 13, 14, 15}) {
      QVERIFY2(!widgets_->ControlWidget(off)->isEnabled(), qPrintable(QString::number(off)));
    }
    QVERIFY(widgets_->ControlWidget(kAddFolderButton)->isEnabled());
  }

  void addingAFolderThroughTheWindowListsItsFiles() {
    TempFolder folder;
    QVERIFY(!folder.Path().empty());
    folder.WriteFile("Äpfel.txt", "Äpfel");
    folder.WriteFile("birnen.txt", "Birnen");
    folder.WriteFile("kirschen.bak", "Kirschen!");
    chooserAnswer_ = folder.Path();

    QVERIFY(BuildProgram());
    Program& program = *program_;
    QVERIFY(ClickButton(program, 0, kAddFolderButton));
    QCOMPARE(static_cast<int>(chooserTitles_.size()), 1);

    QCOMPARE(widgets_->CountRows(kFilesView), 3);
    std::vector<std::string> rows;
    for (int row = 0; row < 3; ++row) {
      rows.push_back(widgets_->RowText(kFilesView, row, 0) + "|" +
                     widgets_->RowText(kFilesView, row, 1));
    }
    std::sort(rows.begin(), rows.end());
    const std::vector<std::string> expected{"birnen.txt|6 Bytes", "kirschen.bak|9 Bytes",
                                            "Äpfel.txt|6 Bytes"};
    QCOMPARE(rows, expected);
    widgets_->PublishPendingRows();
    QCOMPARE(Widget<QTreeView>(kFilesView)->model()->rowCount(), 3);
    QCOMPARE(widgets_->GetText(kFilesLabel), std::string("Alle Dateien (3)"));
  }

  void oneRoundFromSearchToDeletionRemovesExactlyTheChosenFile() {
    TempFolder folder;
    QVERIFY(!folder.Path().empty());
    const std::string original = folder.WriteFile("bericht.txt", "Quartalszahlen");
    const std::string copy = folder.WriteFile("bericht.bak", "Quartalszahlen");
    const std::string other = folder.WriteFile("notiz.txt", "etwas anderes");
    chooserAnswer_ = folder.Path();

    QVERIFY(BuildProgram());
    Program& program = *program_;
    QVERIFY(ClickButton(program, 0, kAddFolderButton));
    QVERIFY(ClickButton(program, 0, kSameContentButton));
    QCOMPARE(widgets_->CountRows(kGroupsBox), 1);

    QVERIFY(ClickListRow(program, 0, kGroupsBox, 0));
    QCOMPARE(widgets_->CountRows(kMembersBox), 2);
    // The backup copy is the one preselected for deletion.
    const int marked = widgets_->SelectedRow(kMembersBox);
    QVERIFY(marked >= 0);
    QVERIFY(QString::fromStdString(widgets_->RowText(kMembersBox, marked, 0))
                .contains(QStringLiteral("bericht.bak")));

    QVERIFY(ClickButton(program, 0, kDeleteMarkedButton));
    QVERIFY(ClickButton(program, 0, kToDeleteButton));
    QVERIFY(program.state.toDeleteWindowOpen);
    QVERIFY(widgets_->WindowWidget(kToDeleteWindow) != nullptr);
    QCOMPARE(widgets_->CountRows(kToDeleteView), 1);
    QCOMPARE(widgets_->RowText(kToDeleteView, 0, 0), std::string("bericht.bak"));

    QVERIFY(ClickButton(program, 1, kSelectAllButton));
    QVERIFY(widgets_->IsRowSelected(kToDeleteView, 0));
    QVERIFY(ClickButton(program, 1, kDeleteSelectedButton));

    QVERIFY(messageBoxes_.empty());
    QVERIFY(!std::filesystem::exists(copy));
    QVERIFY(std::filesystem::exists(original));
    QVERIFY(std::filesystem::exists(other));
    QCOMPARE(widgets_->CountRows(kToDeleteView), 1);
    QCOMPARE(widgets_->RowText(kToDeleteView, 0, 0), std::string("(keine Dateien zum Löschen)"));
    QCOMPARE(widgets_->CountRows(kFilesView), 2);
  }

  void waitingWithNoWindowLeftEndsInsteadOfHanging() {
    const Event event = widgets_->WaitForEvent();
    QCOMPARE(static_cast<int>(event.kind), static_cast<int>(EventKind::CloseRequest));
  }
};

}  // namespace kopiensieb::testing

QTEST_MAIN(kopiensieb::testing::QtSmokeTest)
#include "qt_smoke_test.moc"

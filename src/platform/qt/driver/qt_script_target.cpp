#include "platform/qt/driver/qt_script_target.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <set>

namespace kopiensieb {

namespace {

std::string ToBytes(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Labels and message boxes break lines with "\n" on screen; the program writes "\r".
std::string WithProgramLineBreaks(const QString& shown) {
  QString text = shown;
  text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  return ToBytes(text);
}

void LetEventsSettle() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// A user acts in the window in front: the window of the widget becomes the active one, so
// that focus and keystrokes go where they would go on a desktop.
void BringToFront(QWidget* widget) {
  QWidget* window = widget->window();
  if (QApplication::activeWindow() != window) {
    QApplication::setActiveWindow(window);
  }
}

// A character that a key press cannot carry into a line edit (a tab moves the focus, control
// and format characters are dropped) reaches it the way an input method commits text.
bool NeedsInputMethod(char32_t character) {
  return !QChar::isPrint(character) || character == U' ';
}

void PressKeyWithText(QWidget* target, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void CommitThroughInputMethod(QWidget* target, const QString& text) {
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QApplication::sendEvent(target, &commit);
}

// Replaces a field's whole text, character by character, as typed.
void TypeInto(QLineEdit* field, const std::string& text) {
  BringToFront(field);
  QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, field->rect().center());
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  if (text.empty()) {
    QTest::keyClick(field, Qt::Key_Delete);
    return;
  }
  for (const char32_t character : FromBytes(text).toUcs4()) {
    const QString one = QString::fromUcs4(&character, 1);
    if (NeedsInputMethod(character)) {
      CommitThroughInputMethod(field, one);
    } else {
      PressKeyWithText(field, one);
    }
  }
}

// The whole text in one go, as a paste or an input method delivers it: the folder dialog
// completes names while they are typed and would choose the folder typed halfway.
void PasteInto(QLineEdit* field, const std::string& text) {
  BringToFront(field);
  QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, field->rect().center());
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  CommitThroughInputMethod(field, FromBytes(text));
}

bool ChoosesExactly(const QFileDialog& dialog, const std::string& folder) {
  const QStringList chosen = dialog.selectedFiles();
  return chosen.size() == 1 &&
         QDir::cleanPath(chosen.front()) == QDir::cleanPath(FromBytes(folder));
}

QAbstractItemView* ListWidget(QWidget* widget) {
  return qobject_cast<QAbstractItemView*>(widget);
}

QPoint CentreOfRow(QAbstractItemView* view, int row) {
  const QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  return view->visualRect(index).center();
}

std::vector<int> ExistingRowsOnce(const std::vector<int>& rows, int count) {
  std::vector<int> kept;
  std::set<int> seen;
  for (const int row : rows) {
    if (row >= 0 && row < count && seen.insert(row).second) {
      kept.push_back(row);
    }
  }
  return kept;
}

std::vector<int> SelectedRowsOf(const QAbstractItemView* view) {
  std::set<int> rows;
  for (const QItemSelectionRange& range : view->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      rows.insert(row);
    }
  }
  return {rows.begin(), rows.end()};
}

// A click on no row: below the last one where the view has room, else Ctrl+clicks that take
// the chosen rows out again, as a user would do it.
void ClickBesideTheRows(QAbstractItemView* view) {
  QWidget* viewport = view->viewport();
  const int count = view->model()->rowCount();
  const int below =
      count == 0 ? 2 : view->visualRect(view->model()->index(count - 1, 0)).bottom() + 2;
  if (below < viewport->height() - 1) {
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(2, below));
    return;
  }
  for (const int row : SelectedRowsOf(view)) {
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, CentreOfRow(view, row));
  }
}

HeadlessControl ReadControl(const QtWidgetServices& widgets, int number, ControlKind kind) {
  HeadlessControl shown;
  shown.number = number;
  shown.kind = kind;
  QWidget* widget = widgets.ControlWidget(number);
  if (widget == nullptr) {
    return shown;
  }
  const QRect geometry = widget->geometry();
  shown.geometry = Geometry{geometry.x(), geometry.y(), geometry.width(), geometry.height()};
  shown.enabled = widget->isEnabled();
  switch (kind) {
    case ControlKind::Button:
      shown.text = ToBytes(static_cast<QPushButton*>(widget)->text());
      break;
    case ControlKind::Field:
      shown.text = ToBytes(static_cast<QLineEdit*>(widget)->text());
      break;
    case ControlKind::Label:
      shown.text = WithProgramLineBreaks(static_cast<QLabel*>(widget)->text());
      break;
    case ControlKind::Progress:
      shown.progress = static_cast<QProgressBar*>(widget)->value();
      break;
    case ControlKind::ListView:
    case ControlKind::ListBox: {
      const auto* view = static_cast<QAbstractItemView*>(widget);
      const QAbstractItemModel* model = view->model();
      const int columns = kind == ControlKind::ListView ? model->columnCount() : 1;
      if (kind == ControlKind::ListView) {
        const auto* tree = static_cast<const QTreeView*>(widget);
        for (int column = 0; column < columns; ++column) {
          shown.columns.push_back(
              HeadlessColumn{ToBytes(model->headerData(column, Qt::Horizontal).toString()),
                             tree->columnWidth(column)});
        }
      }
      const int rows = model->rowCount();
      shown.rows.reserve(static_cast<std::size_t>(rows));
      for (int row = 0; row < rows; ++row) {
        std::vector<std::string> cells;
        for (int column = 0; column < columns; ++column) {
          cells.push_back(ToBytes(model->data(model->index(row, column)).toString()));
        }
        shown.rows.push_back(std::move(cells));
      }
      const std::vector<int> selected = SelectedRowsOf(view);
      if (kind == ControlKind::ListBox) {
        shown.selectedRow = selected.empty() ? -1 : selected.front();
      } else {
        shown.rowSelected.assign(static_cast<std::size_t>(rows), false);
        for (const int row : selected) {
          if (row < rows) {
            shown.rowSelected[static_cast<std::size_t>(row)] = true;
          }
        }
      }
      break;
    }
  }
  return shown;
}

}  // namespace

// Answers the real dialogs as they open: message boxes are read and closed through their
// button, folder dialogs get the queued folder typed into their name field and are accepted,
// or are cancelled when no answer is queued.
class QtScriptTarget::DialogAnswerer final : public QObject {
 public:
  explicit DialogAnswerer(QtWidgetServices& widgets) : widgets_(widgets) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~DialogAnswerer() override { QCoreApplication::instance()->removeEventFilter(this); }
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;

  std::deque<std::string> answers;
  std::vector<RecordedMessageBox> messageBoxes;
  std::vector<RecordedChooser> choosers;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show) {
      return false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(watched)) {
      Later([this, shown = QPointer<QMessageBox>(box)] { Answer(shown); });
    } else if (auto* dialog = qobject_cast<QFileDialog*>(watched)) {
      Later([this, shown = QPointer<QFileDialog>(dialog)] { Answer(shown); });
    }
    return false;
  }

 private:
  // Dialogs run their own loop; the answer comes from inside it, once the dialog is up.
  void Later(std::function<void()> action) {
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
  }

  void Answer(const QPointer<QMessageBox>& box) {
    if (box.isNull() || !box->isVisible()) {
      return;
    }
    messageBoxes.push_back(RecordedMessageBox{
        ToBytes(box->windowTitle()), WithProgramLineBreaks(box->text()),
        box->icon() == QMessageBox::Critical ? MessageIcon::Error : MessageIcon::None});
    QAbstractButton* button = box->button(QMessageBox::Ok);
    if (button == nullptr && !box->buttons().isEmpty()) {
      button = box->buttons().front();
    }
    if (button != nullptr) {
      QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    }
  }

  void Answer(const QPointer<QFileDialog>& dialog) {
    if (dialog.isNull() || !dialog->isVisible()) {
      return;
    }
    choosers.push_back(
        RecordedChooser{ToBytes(dialog->windowTitle()), widgets_.LastChooserStart()});
    std::string folder;
    if (!answers.empty()) {
      folder = std::move(answers.front());
      answers.pop_front();
    }
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (folder.empty() || buttons == nullptr || nameField == nullptr) {
      Cancel(dialog);
      return;
    }
    PasteInto(nameField, folder);
    // Only the folder the script names may be accepted: a scan of another folder, and a
    // deletion there, must never follow from a dialog that understood the text otherwise.
    if (!ChoosesExactly(*dialog, folder)) {
      Cancel(dialog);
      return;
    }
    if (QPushButton* accept = buttons->button(QDialogButtonBox::Open)) {
      QTest::mouseClick(accept, Qt::LeftButton, Qt::NoModifier, accept->rect().center());
    }
    // A folder the dialog refuses (it does not exist) leaves it open: then it is cancelled,
    // which is all a user could still do.
    Later([this, dialog] {
      if (!dialog.isNull() && dialog->isVisible()) {
        Cancel(dialog);
      }
    });
  }

  static void Cancel(const QPointer<QFileDialog>& dialog) {
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QPushButton* cancel = buttons == nullptr ? nullptr : buttons->button(QDialogButtonBox::Cancel);
    if (cancel != nullptr) {
      QTest::mouseClick(cancel, Qt::LeftButton, Qt::NoModifier, cancel->rect().center());
    } else {
      dialog->reject();
    }
  }

  QtWidgetServices& widgets_;
};

namespace {

// Runs a real action and keeps, of the events it raised, the last one that `wanted` accepts
// as the one message of the line.
bool ActAndQueue(QtWidgetServices& widgets, const std::function<void()>& action,
                 const std::function<bool(const Event&)>& wanted) {
  widgets.TakeQueuedEvents();  // raised by the windows themselves
  action();
  LetEventsSettle();
  const std::deque<Event> raised = widgets.TakeQueuedEvents();
  const auto found = std::find_if(raised.rbegin(), raised.rend(), wanted);
  if (found == raised.rend()) {
    return false;
  }
  widgets.QueueEvent(*found);
  return true;
}

std::function<bool(const Event&)> ControlEventOf(int control) {
  return [control](const Event& event) {
    return event.kind == EventKind::Control && event.control == control;
  };
}

}  // namespace

QtScriptTarget::QtScriptTarget(QtWidgetServices& widgets)
    : widgets_(widgets), dialogs_(std::make_unique<DialogAnswerer>(widgets)) {}

QtScriptTarget::~QtScriptTarget() = default;

bool QtScriptTarget::Click(int control) {
  QWidget* widget = widgets_.ControlWidget(control);
  if (widget == nullptr) {
    return false;
  }
  return ActAndQueue(
      widgets_,
      [widget] {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
      },
      ControlEventOf(control));
}

bool QtScriptTarget::Type(int control, const std::string& text) {
  auto* field = qobject_cast<QLineEdit*>(widgets_.ControlWidget(control));
  if (field == nullptr) {
    return false;
  }
  return ActAndQueue(
      widgets_, [field, &text] { TypeInto(field, text); }, ControlEventOf(control));
}

bool QtScriptTarget::Select(int control, const std::vector<int>& rows) {
  QAbstractItemView* view = ListWidget(widgets_.ControlWidget(control));
  if (view == nullptr) {
    return false;
  }
  const std::vector<int> chosen = ExistingRowsOnce(rows, view->model()->rowCount());
  return ActAndQueue(
      widgets_,
      [view, &chosen] {
        if (chosen.empty()) {
          ClickBesideTheRows(view);
          return;
        }
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
        for (const int row : chosen) {
          QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, CentreOfRow(view, row));
          modifiers = Qt::ControlModifier;
        }
      },
      ControlEventOf(control));
}

bool QtScriptTarget::DoubleClick(int control, int row) {
  QAbstractItemView* view = ListWidget(widgets_.ControlWidget(control));
  if (view == nullptr) {
    return false;
  }
  if (row < 0 || row >= view->model()->rowCount()) {
    return Select(control, {});
  }
  return ActAndQueue(
      widgets_,
      [view, row] {
        QWidget* viewport = view->viewport();
        const QPoint centre = CentreOfRow(view, row);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, centre);
      },
      ControlEventOf(control));
}

void QtScriptTarget::Idle(int window) {
  QWidget* shown = widgets_.WindowWidget(window);
  const bool delivered =
      shown != nullptr &&
      ActAndQueue(
          widgets_,
          [shown] {
            // The pointer passing over the window: a message that starts a pass and asks
            // for nothing.
            const QPoint inside(1, 1);
            QMouseEvent move(QEvent::MouseMove, inside, shown->mapToGlobal(inside), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(shown, &move);
          },
          [window](const Event& event) {
            return event.kind == EventKind::Other && event.window == window;
          });
  if (!delivered) {
    // A window that is not open gets its message all the same, as every idle line does.
    widgets_.QueueEvent(Event{EventKind::Other, window, -1});
  }
}

void QtScriptTarget::RequestClose(int window) {
  QWidget* shown = widgets_.WindowWidget(window);
  const bool delivered = shown != nullptr && ActAndQueue(
                                                 widgets_, [shown] { shown->close(); },
                                                 [window](const Event& event) {
                                                   return event.kind == EventKind::CloseRequest &&
                                                          event.window == window;
                                                 });
  if (!delivered) {
    widgets_.QueueEvent(Event{EventKind::CloseRequest, window, -1});
  }
}

void QtScriptTarget::QueueChooserAnswer(const std::string& folder) {
  dialogs_->answers.push_back(folder);
}

ShownState QtScriptTarget::Shown() const {
  widgets_.PublishPendingRows();
  LetEventsSettle();
  ShownState state;
  for (const int number : widgets_.OpenWindowNumbers()) {
    const QWidget* window = widgets_.WindowWidget(number);
    ShownWindow shown{
        number, ToBytes(window->windowTitle()), window->width(), window->height(), {}};
    for (const int control : widgets_.ControlsOf(number)) {
      if (const std::optional<ControlKind> kind = widgets_.KindOf(control)) {
        shown.controls.push_back(ReadControl(widgets_, control, *kind));
      }
    }
    state.windows.push_back(std::move(shown));
  }
  state.statusWrites = widgets_.StatusWrites();
  state.statusTexts = widgets_.ShownStatusTexts();
  state.messageBoxes = dialogs_->messageBoxes;
  state.choosers = dialogs_->choosers;
  return state;
}

int QtScriptTarget::PassesCompleted() const {
  return widgets_.EventsDelivered();
}

}  // namespace kopiensieb

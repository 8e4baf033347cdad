#include "platform/qt/qt_widget_services.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "common/text.h"
#include "platform/qt/row_model.h"

// Resources of a static library are registered by hand; the macro must stand outside any
// namespace.
static void RegisterKopiensiebResources() {
  Q_INIT_RESOURCE(kopiensieb);
}

namespace kopiensieb {

namespace {

// At most this many characters of a text field reach the program.
constexpr std::size_t kLongestFieldText = 4999;

// A list box holds one chosen row once the user has chosen one: a click beside the rows or a
// Ctrl+click on the chosen row leaves it chosen, as the commands that act on it expect.
class SingleChoiceListView final : public QListView {
 public:
  using QListView::QListView;

 protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* /*event*/) const override {
    if (!index.isValid()) {
      return QItemSelectionModel::NoUpdate;
    }
    return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
  }
};
// The layout leaves this much below the controls for the status bar.
constexpr int kStatusBarHeight = 20;
// While a command runs, the windows repaint at most this often.
constexpr qint64 kRepaintIntervalMs = 30;
// The control font: about 8 points on a 96 dpi screen, never below 9 pixels.
constexpr int kControlFontPixels = 11;
constexpr int kSmallestFontPixels = 9;

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The program breaks lines with "\r"; Qt breaks them with "\n".
QString WithLineBreaks(const std::string& text) {
  QString shown = FromBytes(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

// About 8 points, in pixels so that the layout does not depend on the screen's dpi. The
// narrowest button for its caption ("Pfad hinzufügen" in 95 pixels) decides: where the
// installed font runs wide, it gets a pixel smaller until that caption fits with room for the
// button's frame.
QFont ControlFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  const QString tightestCaption = QString::fromUtf8("Pfad hinzufügen");
  constexpr int kTightestWidth = 95 - 8;
  for (int pixels = kControlFontPixels; pixels >= kSmallestFontPixels; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).horizontalAdvance(tightestCaption) <= kTightestWidth) {
      break;
    }
  }
  return font;
}

// A top-level window of the program: a close request is only reported, the window stays.
class ProgramWindow final : public QWidget {
 public:
  ProgramWindow(Qt::WindowFlags flags, std::function<void()> onCloseRequest)
      : QWidget(nullptr, flags), onCloseRequest_(std::move(onCloseRequest)) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    onCloseRequest_();
  }

 private:
  std::function<void()> onCloseRequest_;
};

// Draws the rows of list views and list boxes. Rows get a little air above the text, or the
// dots of capital umlauts ("Ü") are cut off by the row above; without full-row selection only
// the first column of a selected row shows the selection.
class RowDelegate final : public QStyledItemDelegate {
 public:
  RowDelegate(bool firstColumnSelectionOnly, QObject* parent)
      : QStyledItemDelegate(parent), firstColumnSelectionOnly_(firstColumnSelectionOnly) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(0, kRowAir);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (firstColumnSelectionOnly_ && index.column() > 0) {
      option->state &= ~QStyle::State_Selected;
    }
  }

 private:
  static constexpr int kRowAir = 4;
  bool firstColumnSelectionOnly_;
};

// Sees every event of the application and hands those of the program's windows on; an event
// the handler answers true for is held back from its widget.
class EventWatcher final : public QObject {
 public:
  explicit EventWatcher(std::function<bool(QObject*, QEvent*)> onEvent)
      : onEvent_(std::move(onEvent)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override { return onEvent_(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> onEvent_;
};

bool IsInputEvent(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
      return true;
    default:
      return false;
  }
}

// The input that acts on controls (text an input method commits included), as opposed to
// focus changes that follow from it.
bool IsActingInput(QEvent::Type type) {
  return (IsInputEvent(type) && type != QEvent::FocusIn && type != QEvent::FocusOut) ||
         type == QEvent::InputMethod;
}

bool IsWindowEvent(QEvent::Type type) {
  return type == QEvent::Paint || type == QEvent::WindowActivate ||
         type == QEvent::WindowDeactivate || type == QEvent::Show;
}

bool IsList(ControlKind kind) {
  return kind == ControlKind::ListView || kind == ControlKind::ListBox;
}

// Lower case one character at a time, as typed letters are lower-cased everywhere in the
// program: QString::toLower() would turn "İ" into two characters.
QString SimpleLowerCase(const QString& text) {
  return FromBytes(TypedLowerCase(ToBytes(text)));
}

}  // namespace

struct QtWidgetServices::State {
  struct Control {
    int window = -1;
    ControlKind kind = ControlKind::Button;
    ControlOptions options;
    std::string text;           // buttons and labels: as the program gave it
    QWidget* widget = nullptr;  // owned by its window (Qt parenthood)
    RowModel* model = nullptr;  // owned by its view (Qt parenthood)
    // Row selections the program made and the view has not been told yet: selecting rows one
    // at a time through the selection model costs time in the number of rows already selected.
    std::map<int, bool> pendingSelection;
    int pendingCurrent = -1;
    // The view's selected rows, read from its selection model once and kept until the
    // selection or the rows change: the model answers row by row only by walking all its
    // ranges, which made a loop over the rows quadratic.
    std::vector<bool> selectedRows;
    bool selectedRowsKnown = false;
  };

  // User input that arrived while an event it may depend on was still waiting for its pass.
  struct HeldInput {
    QPointer<QObject> target;
    std::unique_ptr<QEvent> event;
  };

  struct Window {
    std::unique_ptr<ProgramWindow> widget;
    std::vector<QLabel*> statusFields;  // owned by the window (Qt parenthood)
    std::vector<int> controlOrder;      // control numbers in creation order
  };

  // Marks changes the program makes, which raise no events.
  class ProgramChange {
   public:
    explicit ProgramChange(State& state) : state_(state) { ++state_.programChanging; }
    ~ProgramChange() { --state_.programChanging; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

   private:
    State& state_;
  };

  FolderChooser chooser;
  MessageBoxHandler messageBox;
  QFont font = ControlFont();
  // Declared before the windows, so that it outlives them.
  std::unique_ptr<EventWatcher> watcher;
  std::map<int, Window> windows;
  std::map<int, Control> controls;
  std::unordered_map<const QObject*, int> controlOfWidget;
  int container = -1;
  int statusWindow = -1;
  std::deque<Event> queue;
  std::deque<HeldInput> heldInput;
  bool replayingInput = false;
  int programChanging = 0;
  bool publishScheduled = false;
  QElapsedTimer sinceRepaint;
  std::function<bool()> eventSource;
  int eventsDelivered = 0;
  std::vector<int> statusWrites;
  std::string lastChooserStart;
  std::vector<std::string> lastStatusTexts;

  Control* Find(int number) {
    const auto found = controls.find(number);
    return found == controls.end() ? nullptr : &found->second;
  }

  Control* FindList(int number) {
    Control* control = Find(number);
    return control != nullptr && IsList(control->kind) ? control : nullptr;
  }

  int WindowOf(const QObject* object) const {
    const auto* widget = qobject_cast<const QWidget*>(object);
    if (widget == nullptr) {
      return -1;
    }
    const QWidget* topLevel = widget->window();
    for (const auto& [number, window] : windows) {
      if (window.widget.get() == topLevel) {
        return number;
      }
    }
    return -1;
  }

  void PushControlEvent(int window, int control) {
    if (programChanging != 0) {
      return;
    }
    // One mouse action on a list may say both "pressed" and "selection changed": one event.
    const Control* found = Find(control);
    if (found != nullptr && IsList(found->kind) && !queue.empty() &&
        queue.back().kind == EventKind::Control && queue.back().window == window &&
        queue.back().control == control) {
      return;
    }
    queue.push_back(Event{EventKind::Control, window, control});
  }

  // Other events only need to start one pass, so one waiting is enough.
  void PushOtherEvent(int window) {
    if (queue.empty()) {
      queue.push_back(Event{EventKind::Other, window, -1});
    }
  }

  // True when the event is held back from its widget until the events before it are handled.
  bool OnApplicationEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const bool input = IsInputEvent(type);
    const bool acting = IsActingInput(type);
    if (!input && !acting && !IsWindowEvent(type)) {
      return false;
    }
    const int window = WindowOf(watched);
    if (window < 0) {
      return false;
    }
    if (acting && MustHoldInput()) {
      heldInput.push_back(HeldInput{watched, std::unique_ptr<QEvent>(event->clone())});
      return true;
    }
    if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
      const auto field = controlOfWidget.find(watched);
      if (field != controlOfWidget.end() && Find(field->second) != nullptr &&
          Find(field->second)->kind == ControlKind::Field) {
        PushControlEvent(window, field->second);
        return false;
      }
    }
    // Paint and activation count for the window itself only, not for each child widget.
    if (input || watched == windows.at(window).widget.get()) {
      PushOtherEvent(window);
    }
    return false;
  }

  // Input is checked against the state the passes before it leave: while a control event or a
  // close request waits for its pass (a field typed into, whose pass enables a button), later
  // input waits too, and so does everything behind input already waiting. An event that only
  // starts a pass changes nothing later input depends on.
  bool MustHoldInput() const {
    if (replayingInput) {
      return false;
    }
    return !heldInput.empty() || std::any_of(queue.begin(), queue.end(), [](const Event& event) {
      return event.kind != EventKind::Other;
    });
  }

  // Hands held input to its widgets in order until one of them raises an event.
  void ReplayHeldInput() {
    while (queue.empty() && !heldInput.empty()) {
      HeldInput next = std::move(heldInput.front());
      heldInput.pop_front();
      if (next.target.isNull()) {
        continue;  // its widget went with its window
      }
      replayingInput = true;
      QCoreApplication::sendEvent(next.target.data(), next.event.get());
      replayingInput = false;
    }
  }

  // The view's selected rows, read once per change of the selection or the rows.
  const std::vector<bool>& SelectedRowsOf(Control& control) {
    if (!control.selectedRowsKnown) {
      control.selectedRows.assign(static_cast<std::size_t>(control.model->rowCount()), false);
      const auto* view = static_cast<QAbstractItemView*>(control.widget);
      for (const QItemSelectionRange& range : view->selectionModel()->selection()) {
        const int last = std::min(range.bottom(), control.model->rowCount() - 1);
        for (int row = std::max(0, range.top()); row <= last; ++row) {
          control.selectedRows[static_cast<std::size_t>(row)] = true;
        }
      }
      control.selectedRowsKnown = true;
    }
    return control.selectedRows;
  }

  void ForgetSelectedRows(int number) {
    if (Control* control = Find(number)) {
      control->selectedRowsKnown = false;
    }
  }

  void SchedulePublish() {
    if (publishScheduled || watcher == nullptr) {
      return;
    }
    publishScheduled = true;
    QMetaObject::invokeMethod(
        watcher.get(),
        [this] {
          publishScheduled = false;
          PublishAll();
        },
        Qt::QueuedConnection);
  }

  // Hands the program's pending row selections to the view, merged into ranges of rows.
  void Settle(Control& control) {
    if (control.pendingSelection.empty() && control.pendingCurrent < 0) {
      return;
    }
    auto* view = static_cast<QAbstractItemView*>(control.widget);
    const int lastColumn = std::max(0, control.model->columnCount() - 1);
    QItemSelection selected;
    QItemSelection deselected;
    auto run = control.pendingSelection.begin();
    while (run != control.pendingSelection.end()) {
      auto end = std::next(run);
      int last = run->first;
      while (end != control.pendingSelection.end() && end->first == last + 1 &&
             end->second == run->second) {
        last = end->first;
        ++end;
      }
      (run->second ? selected : deselected)
          .select(control.model->index(run->first, 0), control.model->index(last, lastColumn));
      run = end;
    }
    ProgramChange change(*this);
    QItemSelectionModel* selection = view->selectionModel();
    if (!deselected.isEmpty()) {
      selection->select(deselected, QItemSelectionModel::Deselect);
    }
    if (!selected.isEmpty()) {
      selection->select(selected, QItemSelectionModel::Select);
    }
    if (control.pendingCurrent >= 0) {
      selection->setCurrentIndex(control.model->index(control.pendingCurrent, 0),
                                 QItemSelectionModel::NoUpdate);
    }
    control.pendingSelection.clear();
    control.pendingCurrent = -1;
  }

  // Hands a list's pending row changes to its view and keeps the selection on the same rows.
  void Publish(Control& control) {
    if (control.model == nullptr || !control.model->HasUnpublishedChanges()) {
      return;
    }
    Settle(control);
    auto* view = static_cast<QAbstractItemView*>(control.widget);
    QItemSelectionModel* selection = view->selectionModel();
    std::set<int> selectedRows;
    for (const QItemSelectionRange& range : selection->selection()) {
      for (int row = range.top(); row <= range.bottom(); ++row) {
        selectedRows.insert(row);
      }
    }
    std::vector<RowModel::RowId> follow;
    follow.reserve(selectedRows.size() + 1);
    for (const int row : selectedRows) {
      follow.push_back(control.model->PublishedIdAt(row));
    }
    const QModelIndex current = selection->currentIndex();
    follow.push_back(current.isValid() ? control.model->PublishedIdAt(current.row()) : 0);

    ProgramChange change(*this);
    const std::vector<int> rows = control.model->Publish(follow);
    const int lastColumn = std::max(0, control.model->columnCount() - 1);
    QItemSelection restored;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
      if (rows[i] >= 0) {
        restored.select(control.model->index(rows[i], 0),
                        control.model->index(rows[i], lastColumn));
      }
    }
    if (!restored.isEmpty()) {
      selection->select(restored, QItemSelectionModel::ClearAndSelect);
    }
    if (rows.back() >= 0) {
      selection->setCurrentIndex(control.model->index(rows.back(), 0),
                                 QItemSelectionModel::NoUpdate);
    }
  }

  void PublishAll() {
    for (auto& [number, control] : controls) {
      if (control.model != nullptr) {
        Settle(control);
        Publish(control);
      }
    }
  }

  // Lets the windows repaint while a command runs; user input stays queued for later.
  void RepaintNowAndThen() {
    if (sinceRepaint.isValid() && sinceRepaint.elapsed() < kRepaintIntervalMs) {
      return;
    }
    PublishAll();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceRepaint.restart();
  }

  void ConnectButton(QPushButton* button, int window, int number) {
    QObject::connect(button, &QPushButton::clicked, button,
                     [this, window, number] { PushControlEvent(window, number); });
  }

  void ConnectField(QLineEdit* field, int window, int number, bool lowerCase) {
    QObject::connect(field, &QLineEdit::textChanged, field,
                     [this, window, number] { PushControlEvent(window, number); });
    if (!lowerCase) {
      return;
    }
    QObject::connect(field, &QLineEdit::textEdited, field, [this, field](const QString& typed) {
      const QString lower = SimpleLowerCase(typed);
      if (lower == typed) {
        return;
      }
      // The change was already reported by textChanged; the lower-casing is not news.
      ProgramChange change(*this);
      const int cursor = field->cursorPosition();
      field->setText(lower);
      field->setCursorPosition(std::min(cursor, static_cast<int>(lower.size())));
    });
  }

  // Every press on a row is reported, with any button, also on a row that is already
  // selected (which changes no selection); the events of one press are merged when queued.
  void ConnectView(QAbstractItemView* view, int window, int number) {
    const auto report = [this, window, number] { PushControlEvent(window, number); };
    const auto forget = [this, number] { ForgetSelectedRows(number); };
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, forget);
    QObject::connect(view->model(), &QAbstractItemModel::modelReset, view, forget);
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, report);
    QObject::connect(view, &QAbstractItemView::pressed, view, report);
    QObject::connect(view, &QAbstractItemView::doubleClicked, view, report);
    QObject::connect(view, &QAbstractItemView::activated, view, report);
  }

  RowModel* AttachModel(QAbstractItemView* view, bool hasHeader) {
    auto* model = new RowModel(hasHeader, view);  // owned by the view
    model->SetChangeListener([this] { SchedulePublish(); });
    view->setModel(model);
    return model;
  }

  QWidget* MakeListView(QWidget* parent, const std::string& firstColumn,
                        const ControlOptions& options, RowModel** model) {
    auto* view = new QTreeView(parent);  // owned by the window
    *model = AttachModel(view, true);
    (*model)->SetColumn(0, firstColumn);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setSortingEnabled(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(options.multipleSelection ? QAbstractItemView::ExtendedSelection
                                                     : QAbstractItemView::SingleSelection);
    view->setAllColumnsShowFocus(options.fullRowSelection);
    view->setItemDelegate(new RowDelegate(!options.fullRowSelection, view));  // owned by the view
    view->header()->setSectionsMovable(false);
    view->header()->setSectionsClickable(false);
    view->header()->setStretchLastSection(false);
    view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (!options.multipleSelection) {
      // The selection shows only while the view has the focus.
      QPalette palette = view->palette();
      palette.setColor(QPalette::Inactive, QPalette::Highlight,
                       palette.color(QPalette::Inactive, QPalette::Base));
      palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                       palette.color(QPalette::Inactive, QPalette::Text));
      view->setPalette(palette);
    }
    // A view whose selected rows a button then deletes keeps showing them while the user
    // moves to that button: nobody should delete files they cannot see chosen.
    return view;
  }

  QWidget* MakeListBox(QWidget* parent, RowModel** model) {
    auto* box = new SingleChoiceListView(parent);  // owned by the window
    *model = AttachModel(box, false);
    box->setUniformItemSizes(true);
    box->setItemDelegate(new RowDelegate(false, box));  // owned by the box
    box->setEditTriggers(QAbstractItemView::NoEditTriggers);
    box->setSelectionMode(QAbstractItemView::SingleSelection);
    box->setMovement(QListView::Static);
    box->setWordWrap(false);
    // Long lines are cut at the right edge; there is no sideways scrolling.
    box->setTextElideMode(Qt::ElideNone);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return box;
  }

  QWidget* MakeLabel(QWidget* parent, const std::string& text, const ControlOptions& options) {
    auto* label = new QLabel(parent);  // owned by the window
    // File names are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(WithLineBreaks(text));
    label->setAlignment(options.centred ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignTop));
    if (options.sunken) {
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label->setLineWidth(1);
    }
    label->setFocusPolicy(Qt::NoFocus);
    return label;
  }

  QWidget* MakeProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);  // owned by the window
    bar->setOrientation(Qt::Vertical);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFocusPolicy(Qt::NoFocus);
    return bar;
  }
};

namespace {

// Centred on the screen, or on the window that was active; never left of or above 0 when
// centred on a window.
QPoint PlacementOf(QSize outer, WindowPlacement placement, const QWidget* active) {
  if (placement == WindowPlacement::CentredOnActiveWindow && active != nullptr) {
    const QRect frame = active->frameGeometry();
    const int left = frame.x() + frame.width() / 2 - outer.width() / 2;
    const int top = frame.y() + frame.height() / 2 - outer.height() / 2;
    return QPoint(std::max(0, left), std::max(0, top));
  }
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 0, 0);
  return QPoint(area.x() + area.width() / 2 - outer.width() / 2,
                area.y() + area.height() / 2 - outer.height() / 2);
}

Qt::WindowFlags FlagsOf(const WindowLayout& layout) {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (layout.hasCloseBox) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  return flags;
}

}  // namespace

QtWidgetServices::QtWidgetServices(FolderChooser chooser, MessageBoxHandler messageBox)
    : state_(std::make_unique<State>()) {
  RegisterKopiensiebResources();
  state_->chooser = std::move(chooser);
  state_->messageBox = std::move(messageBox);
  State* state = state_.get();
  state_->watcher = std::make_unique<EventWatcher>([state](QObject* watched, QEvent* event) {
    return state->OnApplicationEvent(watched, event);
  });
  if (QCoreApplication* application = QCoreApplication::instance()) {
    application->installEventFilter(state_->watcher.get());
  }
}

QtWidgetServices::~QtWidgetServices() {
  // Nothing is reported while the windows go.
  if (QCoreApplication* application = QCoreApplication::instance()) {
    application->removeEventFilter(state_->watcher.get());
  }
  ++state_->programChanging;
  state_->controls.clear();
  state_->controlOfWidget.clear();
  state_->windows.clear();
}

bool QtWidgetServices::OpenWindow(const WindowLayout& layout) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
      state_->windows.contains(layout.number) || layout.clientWidth <= 0 ||
      layout.clientHeight <= 0) {
    return false;
  }
  QWidget* active = QApplication::activeWindow();
  State* state = state_.get();
  const int number = layout.number;
  auto widget = std::make_unique<ProgramWindow>(FlagsOf(layout), [state, number] {
    state->queue.push_back(Event{EventKind::CloseRequest, number, -1});
  });
  widget->setWindowTitle(FromBytes(layout.title));
  widget->setWindowIcon(QIcon(QStringLiteral(":/kopiensieb/icon.png")));
  widget->setFixedSize(layout.clientWidth, layout.clientHeight);
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
  widget->setCursor(Qt::ArrowCursor);
  widget->setMouseTracking(true);

  widget->move(PlacementOf(widget->size(), layout.placement, active));
  ProgramWindow* shown = widget.get();
  state_->windows[number].widget = std::move(widget);
  shown->show();
  // Once the frame is known, centre the outer rectangle as asked.
  const QSize outer = shown->frameGeometry().size();
  if (outer != shown->size()) {
    shown->move(PlacementOf(outer, layout.placement, active));
  }
  return true;
}

bool QtWidgetServices::ChooseContainer(int window) {
  if (!state_->windows.contains(window)) {
    return false;
  }
  state_->container = window;
  return true;
}

void QtWidgetServices::CloseWindow(int window) {
  const auto found = state_->windows.find(window);
  if (found == state_->windows.end()) {
    return;
  }
  if (state_->statusWindow == window) {
    // What the fields showed last stays readable once they are gone.
    state_->lastStatusTexts = ShownStatusTexts();
  }
  std::unique_ptr<ProgramWindow> doomed = std::move(found->second.widget);
  state_->windows.erase(found);
  for (auto control = state_->controls.begin(); control != state_->controls.end();) {
    if (control->second.window == window) {
      state_->controlOfWidget.erase(control->second.widget);
      control = state_->controls.erase(control);
    } else {
      ++control;
    }
  }
  if (state_->container == window) {
    state_->container = -1;
  }
  if (state_->statusWindow == window) {
    state_->statusWindow = -1;
  }
  State::ProgramChange change(*state_);
  doomed.reset();
}

bool QtWidgetServices::CreateStatusBar(int window, const std::vector<int>& fieldWidths) {
  const auto found = state_->windows.find(window);
  if (found == state_->windows.end()) {
    return false;
  }
  QWidget* parent = found->second.widget.get();
  for (QLabel* field : found->second.statusFields) {
    delete field;  // owned by the window; replaced by the new fields
  }
  found->second.statusFields.clear();
  const int top = parent->height() - kStatusBarHeight;
  int left = 0;
  for (const int width : fieldWidths) {
    // A width below 1 takes the rest of the window.
    const int shownWidth = width > 0 ? width : std::max(0, parent->width() - left);
    auto* field = new QLabel(parent);  // owned by the window
    field->setTextFormat(Qt::PlainText);
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setLineWidth(1);
    field->setIndent(3);
    field->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    field->setFont(state_->font);
    field->setFocusPolicy(Qt::NoFocus);
    field->setGeometry(left, top, shownWidth, kStatusBarHeight);
    field->show();
    found->second.statusFields.push_back(field);
    left += shownWidth;
  }
  state_->statusWindow = window;
  state_->statusWrites.assign(fieldWidths.size(), 0);
  return true;
}

void QtWidgetServices::CreateControl(int control, ControlKind kind, Geometry geometry,
                                     const std::string& text, const ControlOptions& options) {
  const auto window = state_->windows.find(state_->container);
  if (window == state_->windows.end() || state_->controls.contains(control)) {
    return;
  }
  QWidget* parent = window->second.widget.get();
  const int windowNumber = window->first;
  State::ProgramChange change(*state_);
  State::Control created;
  created.window = windowNumber;
  created.kind = kind;
  created.options = options;
  switch (kind) {
    case ControlKind::Button: {
      auto* button = new QPushButton(FromBytes(text), parent);  // owned by the window
      button->setAutoDefault(false);
      state_->ConnectButton(button, windowNumber, control);
      created.widget = button;
      created.text = text;
      break;
    }
    case ControlKind::Field: {
      auto* field = new QLineEdit(FromBytes(text), parent);  // owned by the window
      field->setCursorPosition(0);
      state_->ConnectField(field, windowNumber, control, options.lowerCase);
      created.widget = field;
      break;
    }
    case ControlKind::Label:
      created.widget = state_->MakeLabel(parent, text, options);
      created.text = text;
      break;
    case ControlKind::ListView:
      created.widget = state_->MakeListView(parent, text, options, &created.model);
      state_->ConnectView(static_cast<QAbstractItemView*>(created.widget), windowNumber, control);
      break;
    case ControlKind::ListBox:
      created.widget = state_->MakeListBox(parent, &created.model);
      state_->ConnectView(static_cast<QAbstractItemView*>(created.widget), windowNumber, control);
      break;
    case ControlKind::Progress:
      created.widget = state_->MakeProgressBar(parent);
      break;
  }
  created.widget->setFont(state_->font);
  created.widget->setGeometry(geometry.x, geometry.y, geometry.width, geometry.height);
  created.widget->show();
  state_->controlOfWidget.emplace(created.widget, control);
  state_->controls.emplace(control, std::move(created));
  window->second.controlOrder.push_back(control);
}

void QtWidgetServices::AddColumn(int control, int index, const std::string& title, int width) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || index < 0) {
    return;
  }
  const int column = found->model->SetColumn(index, title);
  static_cast<QTreeView*>(found->widget)->setColumnWidth(column, std::max(0, width));
}

void QtWidgetServices::SetEnabled(int control, bool enabled) {
  if (State::Control* found = state_->Find(control)) {
    State::ProgramChange change(*state_);
    found->widget->setEnabled(enabled);
  }
}

bool QtWidgetServices::IsEnabled(int control) const {
  const State::Control* found = state_->Find(control);
  return found != nullptr && found->widget->isEnabled();
}

void QtWidgetServices::SetText(int control, const std::string& text) {
  State::Control* found = state_->Find(control);
  if (found == nullptr) {
    return;
  }
  State::ProgramChange change(*state_);
  switch (found->kind) {
    case ControlKind::Button:
      static_cast<QPushButton*>(found->widget)->setText(FromBytes(text));
      found->text = text;
      break;
    case ControlKind::Field:
      static_cast<QLineEdit*>(found->widget)->setText(FromBytes(text));
      break;
    case ControlKind::Label:
      static_cast<QLabel*>(found->widget)->setText(WithLineBreaks(text));
      found->text = text;
      break;
    default:
      break;
  }
}

std::string QtWidgetServices::GetText(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr) {
    return {};
  }
  if (found->kind == ControlKind::Field) {
    // Counted in characters of the UTF-8 text, as everywhere else, not in UTF-16 units.
    const std::string text = ToBytes(static_cast<QLineEdit*>(found->widget)->text());
    return std::string(FirstCharacters(text, kLongestFieldText));
  }
  return found->text;
}

void QtWidgetServices::AddRow(int control, int index, const std::string& text) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->InsertRow(index, text);
  }
}

void QtWidgetServices::SetRowText(int control, int row, int column, const std::string& text) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->SetCell(row, column, text);
  }
}

void QtWidgetServices::RemoveRow(int control, int row) {
  RemoveRows(control, {row});
}

void QtWidgetServices::RemoveRows(int control, const std::vector<int>& rows) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->RemoveRows(rows);
  }
}

void QtWidgetServices::RemoveAllRows(int control) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->RemoveAllRows();
  }
}

int QtWidgetServices::CountRows(int control) const {
  const State::Control* found = state_->FindList(control);
  return found == nullptr ? 0 : found->model->Count();
}

int QtWidgetServices::SelectedRow(int control) const {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return -1;
  }
  state_->Publish(*found);
  state_->Settle(*found);
  int first = -1;
  for (const QItemSelectionRange& range :
       static_cast<QAbstractItemView*>(found->widget)->selectionModel()->selection()) {
    if (first < 0 || range.top() < first) {
      first = range.top();
    }
  }
  return first;
}

void QtWidgetServices::SelectRow(int control, int row) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  state_->Publish(*found);
  found->pendingSelection.clear();
  found->pendingCurrent = -1;
  State::ProgramChange change(*state_);
  auto* view = static_cast<QAbstractItemView*>(found->widget);
  QItemSelectionModel* selection = view->selectionModel();
  if (row < 0 || row >= found->model->Count()) {
    selection->clearSelection();
    return;
  }
  const QModelIndex index = found->model->index(row, 0);
  selection->setCurrentIndex(index,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

bool QtWidgetServices::IsRowSelected(int control, int row) const {
  State::Control* found = state_->FindList(control);
  if (found == nullptr || row < 0 || row >= found->model->Count()) {
    return false;
  }
  state_->Publish(*found);
  if (const auto pending = found->pendingSelection.find(row);
      pending != found->pendingSelection.end()) {
    return pending->second;
  }
  const std::vector<bool>& selected = state_->SelectedRowsOf(*found);
  return static_cast<std::size_t>(row) < selected.size() && selected[static_cast<std::size_t>(row)];
}

void QtWidgetServices::SetRowSelected(int control, int row, bool selected, bool focused) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || row < 0 ||
      row >= found->model->Count()) {
    return;
  }
  state_->Publish(*found);
  if (selected && !found->options.multipleSelection) {
    // One row at most: the others go at once.
    State::ProgramChange change(*state_);
    found->pendingSelection.clear();
    static_cast<QAbstractItemView*>(found->widget)
        ->selectionModel()
        ->select(found->model->index(row, 0),
                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    found->pendingSelection[row] = selected;
  }
  if (focused) {
    found->pendingCurrent = row;
  }
}

void QtWidgetServices::SetProgress(int control, int value) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::Progress) {
    return;
  }
  static_cast<QProgressBar*>(found->widget)->setValue(std::clamp(value, 0, 100));
  state_->RepaintNowAndThen();
}

void QtWidgetServices::SetStatusText(int field, const std::string& text) {
  const auto window = state_->windows.find(state_->statusWindow);
  if (window == state_->windows.end() || field < 0 ||
      field >= static_cast<int>(window->second.statusFields.size())) {
    return;
  }
  window->second.statusFields[static_cast<std::size_t>(field)]->setText(FromBytes(text));
  if (static_cast<std::size_t>(field) < state_->statusWrites.size()) {
    ++state_->statusWrites[static_cast<std::size_t>(field)];
  }
  state_->RepaintNowAndThen();
}

void QtWidgetServices::KeepPainting() {
  state_->RepaintNowAndThen();
}

void QtWidgetServices::ShowMessageBox(const std::string& title, const std::string& text,
                                      MessageIcon icon) {
  state_->PublishAll();
  if (state_->messageBox) {
    state_->messageBox(title, text, icon);
    return;
  }
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(FromBytes(title));
  // A path in the text is shown as it is, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(WithLineBreaks(text));
  box.setIcon(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

std::string QtWidgetServices::ChooseFolder(const std::string& title,
                                           const std::string& startFolder) {
  state_->PublishAll();
  state_->lastChooserStart = startFolder;
  std::string chosen;
  if (state_->chooser) {
    chosen = state_->chooser(title, startFolder);
  } else {
    // Qt's own dialog rather than the desktop's: it speaks German with the program (a
    // desktop's dialog follows the desktop's language) and looks the same everywhere.
    chosen = ToBytes(QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), FromBytes(title), FromBytes(startFolder),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog));
  }
  if (!chosen.empty() && chosen.back() != '/') {
    chosen.push_back('/');
  }
  return chosen;
}

Event QtWidgetServices::WaitForEvent() {
  state_->PublishAll();
  if (state_->eventSource) {
    return NextDrivenEvent();
  }
  while (state_->queue.empty()) {
    state_->ReplayHeldInput();
    if (!state_->queue.empty()) {
      break;
    }
    if (state_->windows.empty()) {
      // With no window left no message can come; waiting would never end.
      return Event{EventKind::CloseRequest, -1, -1};
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    state_->PublishAll();
  }
  return TakeNextEvent();
}

Event QtWidgetServices::NextDrivenEvent() {
  // What the windows raised during the last pass (a dialog's own loop paints and moves the
  // focus) is not the user's.
  state_->queue.clear();
  while (state_->queue.empty()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    state_->PublishAll();
    state_->queue.clear();
    if (!state_->eventSource()) {
      state_->queue.assign(1, Event{EventKind::CloseRequest, 0, -1});
    }
  }
  return TakeNextEvent();
}

Event QtWidgetServices::TakeNextEvent() {
  state_->sinceRepaint.restart();
  const Event event = state_->queue.front();
  state_->queue.pop_front();
  ++state_->eventsDelivered;
  return event;
}

void QtWidgetServices::SetEventSource(std::function<bool()> source) {
  state_->eventSource = std::move(source);
}

void QtWidgetServices::QueueEvent(const Event& event) {
  state_->queue.push_back(event);
}

int QtWidgetServices::EventsDelivered() const {
  return state_->eventsDelivered;
}

std::vector<int> QtWidgetServices::StatusWrites() const {
  return state_->statusWrites;
}

std::vector<int> QtWidgetServices::OpenWindowNumbers() const {
  std::vector<int> numbers;
  for (const auto& [number, window] : state_->windows) {
    numbers.push_back(number);
  }
  return numbers;
}

std::vector<int> QtWidgetServices::ControlsOf(int window) const {
  const auto found = state_->windows.find(window);
  return found == state_->windows.end() ? std::vector<int>() : found->second.controlOrder;
}

std::optional<ControlKind> QtWidgetServices::KindOf(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr) {
    return std::nullopt;
  }
  return found->kind;
}

std::vector<std::string> QtWidgetServices::ShownStatusTexts() const {
  const auto window = state_->windows.find(state_->statusWindow);
  if (window == state_->windows.end()) {
    return state_->lastStatusTexts;
  }
  std::vector<std::string> texts;
  for (const QLabel* field : window->second.statusFields) {
    texts.push_back(ToBytes(field->text()));
  }
  return texts;
}

std::string QtWidgetServices::LastChooserStart() const {
  return state_->lastChooserStart;
}

QWidget* QtWidgetServices::WindowWidget(int window) const {
  const auto found = state_->windows.find(window);
  return found == state_->windows.end() ? nullptr : found->second.widget.get();
}

QWidget* QtWidgetServices::ControlWidget(int control) const {
  const State::Control* found = state_->Find(control);
  return found == nullptr ? nullptr : found->widget;
}

QWidget* QtWidgetServices::StatusFieldWidget(int field) const {
  const auto window = state_->windows.find(state_->statusWindow);
  if (window == state_->windows.end() || field < 0 ||
      field >= static_cast<int>(window->second.statusFields.size())) {
    return nullptr;
  }
  return window->second.statusFields[static_cast<std::size_t>(field)];
}

std::string QtWidgetServices::RowText(int control, int row, int column) const {
  const State::Control* found = state_->FindList(control);
  return found == nullptr ? std::string() : found->model->Cell(row, column);
}

std::deque<Event> QtWidgetServices::TakeQueuedEvents() {
  // No pass runs between the events taken here, so input held back for one is handed on too.
  std::deque<Event> taken;
  do {
    taken.insert(taken.end(), state_->queue.begin(), state_->queue.end());
    state_->queue.clear();
    state_->ReplayHeldInput();
  } while (!state_->queue.empty());
  return taken;
}

void QtWidgetServices::PublishPendingRows() {
  state_->PublishAll();
}

}  // namespace kopiensieb

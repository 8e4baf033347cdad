#include "platform/qt/qt_widget_services.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QScreen>

#include <algorithm>
#include <utility>

#include "platform/qt/qt_backend_state.h"

// Resources of a static library are registered by hand; the macro must stand outside any
// namespace.
static void RegisterKopiensiebResources() {
  Q_INIT_RESOURCE(kopiensieb);
}

namespace kopiensieb {

using qt_backend::EventWatcher;
using qt_backend::FromBytes;
using qt_backend::ProgramWindow;
using qt_backend::ToBytes;

namespace {

// The layout leaves this much below the controls for the status bar.
constexpr int kStatusBarHeight = 20;

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

std::vector<int> QtWidgetServices::StatusWrites() const {
  return state_->statusWrites;
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

}  // namespace kopiensieb

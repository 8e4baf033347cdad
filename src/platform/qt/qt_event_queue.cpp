#include <QCoreApplication>
#include <QWidget>

#include <algorithm>
#include <utility>

#include "platform/qt/qt_backend_state.h"
#include "platform/qt/qt_widget_services.h"

namespace kopiensieb {

using qt_backend::IsList;

namespace {

// While a command runs, the windows repaint at most this often.
constexpr qint64 kRepaintIntervalMs = 30;

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

}  // namespace

int QtWidgetServices::State::WindowOf(const QObject* object) const {
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

void QtWidgetServices::State::PushControlEvent(int window, int control) {
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
void QtWidgetServices::State::PushOtherEvent(int window) {
  if (queue.empty()) {
    queue.push_back(Event{EventKind::Other, window, -1});
  }
}

// True when the event is held back from its widget until the events before it are handled.
bool QtWidgetServices::State::OnApplicationEvent(QObject* watched, QEvent* event) {
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
bool QtWidgetServices::State::MustHoldInput() const {
  if (replayingInput) {
    return false;
  }
  return !heldInput.empty() || std::any_of(queue.begin(), queue.end(), [](const Event& event) {
    return event.kind != EventKind::Other;
  });
}

// Hands held input to its widgets in order until one of them raises an event.
void QtWidgetServices::State::ReplayHeldInput() {
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

// Lets the windows repaint while a command runs; user input stays queued for later.
void QtWidgetServices::State::RepaintNowAndThen() {
  if (sinceRepaint.isValid() && sinceRepaint.elapsed() < kRepaintIntervalMs) {
    return;
  }
  PublishAll();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  sinceRepaint.restart();
}

void QtWidgetServices::KeepPainting() {
  state_->RepaintNowAndThen();
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

}  // namespace kopiensieb

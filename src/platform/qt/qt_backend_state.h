#pragma once

// What the files of the Qt backend share: the state behind QtWidgetServices, the windows and
// the event watcher it owns, and the text conversions between the program and Qt.

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEvent>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/qt/qt_widget_services.h"

class QAbstractItemView;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kopiensieb {

class RowModel;

namespace qt_backend {

inline QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToBytes(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The program breaks lines with "\r"; Qt breaks them with "\n".
inline QString WithLineBreaks(const std::string& text) {
  QString shown = FromBytes(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

inline bool IsList(ControlKind kind) {
  return kind == ControlKind::ListView || kind == ControlKind::ListBox;
}

// The control font, chosen once for all windows.
QFont ControlFont();

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

}  // namespace qt_backend

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
    std::unique_ptr<qt_backend::ProgramWindow> widget;
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
  QFont font = qt_backend::ControlFont();
  // Declared before the windows, so that it outlives them.
  std::unique_ptr<qt_backend::EventWatcher> watcher;
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
    return control != nullptr && qt_backend::IsList(control->kind) ? control : nullptr;
  }

  // Event queue (qt_event_queue.cpp).
  int WindowOf(const QObject* object) const;
  void PushControlEvent(int window, int control);
  void PushOtherEvent(int window);
  bool OnApplicationEvent(QObject* watched, QEvent* event);
  bool MustHoldInput() const;
  void ReplayHeldInput();
  void RepaintNowAndThen();

  // List synchronisation (qt_list_sync.cpp).
  const std::vector<bool>& SelectedRowsOf(Control& control);
  void ForgetSelectedRows(int number);
  void SchedulePublish();
  void Settle(Control& control);
  void Publish(Control& control);
  void PublishAll();

  // Control creation (qt_controls.cpp).
  void ConnectButton(QPushButton* button, int window, int number);
  void ConnectField(QLineEdit* field, int window, int number, bool lowerCase);
  void ConnectView(QAbstractItemView* view, int window, int number);
  RowModel* AttachModel(QAbstractItemView* view, bool hasHeader);
  QWidget* MakeListView(QWidget* parent, const std::string& firstColumn,
                        const ControlOptions& options, RowModel** model);
  QWidget* MakeListBox(QWidget* parent, RowModel** model);
  QWidget* MakeLabel(QWidget* parent, const std::string& text, const ControlOptions& options);
  QWidget* MakeProgressBar(QWidget* parent);
};

}  // namespace kopiensieb

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <algorithm>

#include "common/text.h"
#include "platform/qt/qt_backend_state.h"
#include "platform/qt/qt_widget_services.h"
#include "platform/qt/row_model.h"

namespace kopiensieb {

using qt_backend::FromBytes;
using qt_backend::ToBytes;
using qt_backend::WithLineBreaks;

namespace {

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

// The control font: about 8 points on a 96 dpi screen, never below 9 pixels.
constexpr int kControlFontPixels = 11;
constexpr int kSmallestFontPixels = 9;

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

// Lower case one character at a time, as typed letters are lower-cased everywhere in the
// program: QString::toLower() would turn "İ" into two characters.
QString SimpleLowerCase(const QString& text) {
  return FromBytes(TypedLowerCase(ToBytes(text)));
}

}  // namespace

namespace qt_backend {

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

}  // namespace qt_backend

void QtWidgetServices::State::ConnectButton(QPushButton* button, int window, int number) {
  QObject::connect(button, &QPushButton::clicked, button,
                   [this, window, number] { PushControlEvent(window, number); });
}

void QtWidgetServices::State::ConnectField(QLineEdit* field, int window, int number,
                                           bool lowerCase) {
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
void QtWidgetServices::State::ConnectView(QAbstractItemView* view, int window, int number) {
  const auto report = [this, window, number] { PushControlEvent(window, number); };
  const auto forget = [this, number] { ForgetSelectedRows(number); };
  QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, forget);
  QObject::connect(view->model(), &QAbstractItemModel::modelReset, view, forget);
  QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, report);
  QObject::connect(view, &QAbstractItemView::pressed, view, report);
  QObject::connect(view, &QAbstractItemView::doubleClicked, view, report);
  QObject::connect(view, &QAbstractItemView::activated, view, report);
}

RowModel* QtWidgetServices::State::AttachModel(QAbstractItemView* view, bool hasHeader) {
  auto* model = new RowModel(hasHeader, view);  // owned by the view
  model->SetChangeListener([this] { SchedulePublish(); });
  view->setModel(model);
  return model;
}

QWidget* QtWidgetServices::State::MakeListView(QWidget* parent, const std::string& firstColumn,
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

QWidget* QtWidgetServices::State::MakeListBox(QWidget* parent, RowModel** model) {
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

QWidget* QtWidgetServices::State::MakeLabel(QWidget* parent, const std::string& text,
                                            const ControlOptions& options) {
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

QWidget* QtWidgetServices::State::MakeProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);  // owned by the window
  bar->setOrientation(Qt::Vertical);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setFocusPolicy(Qt::NoFocus);
  return bar;
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
    return FieldTextOf(text);
  }
  return found->text;
}

void QtWidgetServices::SetProgress(int control, int value) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::Progress) {
    return;
  }
  static_cast<QProgressBar*>(found->widget)->setValue(std::clamp(value, 0, 100));
  state_->RepaintNowAndThen();
}

}  // namespace kopiensieb

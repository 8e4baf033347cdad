#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "platform/qt/qt_backend_state.h"
#include "platform/qt/qt_widget_services.h"

namespace kopiensieb {

using qt_backend::FromBytes;
using qt_backend::ToBytes;
using qt_backend::WithLineBreaks;

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

std::string QtWidgetServices::LastChooserStart() const {
  return state_->lastChooserStart;
}

}  // namespace kopiensieb

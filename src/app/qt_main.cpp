#include <QApplication>
#include <QtGlobal>

#include <cstdlib>

#include "platform/posix/posix_file_services.h"
#include "platform/qt/german_translations.h"
#include "platform/qt/qt_widget_services.h"
#include "shell/startup.h"

namespace {

// Qt ends the process when it cannot reach a display. Before the main window exists, that is a
// failure to build it, which ends the program silently with exit code 0.
void EndSilentlyOnFatalMessage(QtMsgType type, const QMessageLogContext& /*context*/,
                               const QString& /*message*/) {
  if (type == QtFatalMsg) {
    std::_Exit(0);
  }
}

}  // namespace

int main(int /*argc*/, char* argv[]) {
  // The program takes no arguments, and Qt's own (-reverse, -style, -qwindowtitle ...) would
  // change what it shows: Qt sees the program's name alone.
  int qtArgumentCount = 1;
  char* qtArguments[] = {argv[0], nullptr};
  const QtMessageHandler earlier = qInstallMessageHandler(EndSilentlyOnFatalMessage);
  QApplication application(qtArgumentCount, qtArguments);
  qInstallMessageHandler(earlier);
  QApplication::setQuitOnLastWindowClosed(false);
  // Lets the desktop match the windows to the installed menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("de.kopiensieb.Kopiensieb"));
  // The program speaks German, and so do the folder dialog and the message boxes.
  kopiensieb::InstallGermanTranslations(application);
  kopiensieb::QtWidgetServices widgets;
  kopiensieb::PosixFileServices files;
  return kopiensieb::RunProgram(widgets, files);
}

#include <QApplication>

#include "platform/posix/posix_file_services.h"
#include "platform/qt/qt_widget_services.h"
#include "shell/startup.h"

int main(int argc, char* argv[]) {
  // Qt needs the arguments for its own options; the program itself takes none.
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  kopiensieb::QtWidgetServices widgets;
  kopiensieb::PosixFileServices files;
  return kopiensieb::RunProgram(widgets, files);
}

// kopiensieb-qt-driver [SCRIPT]: the desktop program on real Qt widgets, driven by a script
// of user actions (from the file, or standard input) that it carries out as real input, and
// printing the state read back from the widgets as JSON lines, in the same language and
// format as kopiensieb-headless.
#include <QApplication>

#include <iostream>
#include <istream>

#include "app/script_main.h"
#include "platform/headless/script_driver.h"
#include "platform/posix/posix_file_services.h"
#include "platform/qt/driver/qt_script_target.h"
#include "platform/qt/german_translations.h"
#include "platform/qt/qt_widget_services.h"
#include "shell/startup.h"

namespace {

int Drive(std::istream& script) {
  kopiensieb::QtWidgetServices widgets;
  kopiensieb::QtScriptTarget target(widgets);
  kopiensieb::ScriptDriver driver(target, script, std::cout, std::cerr);
  widgets.SetEventSource([&driver] { return driver.FillQueue(); });
  kopiensieb::PosixFileServices files;
  const int exitCode = kopiensieb::RunProgram(widgets, files);
  driver.PrintFinalState(exitCode);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Qt sees the program's name alone: the script decides what happens.
  int qtArgumentCount = 1;
  char* qtArguments[] = {argv[0], nullptr};
  QApplication application(qtArgumentCount, qtArguments);
  QApplication::setQuitOnLastWindowClosed(false);
  // The dialogs the script answers are the ones users see: German.
  kopiensieb::InstallGermanTranslations(application);
  return kopiensieb::script_main::RunScriptMain("kopiensieb-qt-driver", argc, argv, Drive);
}

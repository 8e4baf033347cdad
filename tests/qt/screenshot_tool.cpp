// Photographs the program's windows as a user sees them: the real main window built by the
// program's own start-up pieces, after adding a folder of files with umlauts in their names,
// a search and a chosen group, and then with the ToDelete window open over it. Writes
// kopiensieb-main.png and kopiensieb-todelete.png of the whole screen into the given folder.

#include <QAbstractButton>
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/posix_file_services.h"
#include "platform/qt/qt_widget_services.h"
#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/main_window.h"
#include "shell/program.h"

namespace {

using kopiensieb::Event;
using kopiensieb::EventKind;
using kopiensieb::Program;
using kopiensieb::QtWidgetServices;

// A folder of sample files for the scan; removed at the end.
class SampleFolder {
 public:
  SampleFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kopiensieb-bilder-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      return;
    }
    path_ = pattern;
    Write("Übersicht 2023.txt", "Umsätze und Erlöse");
    Write("Übersicht 2023.bak", "Umsätze und Erlöse");
    Write("Größenliste.csv", "Größe;Länge;Höhe");
    Write("Kopie von Größenliste.csv", "Größe;Länge;Höhe");
    Write("Brief an Jürgen.txt", "Lieber Jürgen, ...");
    Write("Straßenkarte.tmp", "Kärtchen");
    Write("Ödland – Notizen mit einem sehr langen Dateinamen.txt", "ß");
  }
  ~SampleFolder() {
    std::error_code ignored;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  SampleFolder(const SampleFolder&) = delete;
  SampleFolder& operator=(const SampleFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ + "/" + name, std::ios::binary) << bytes;
  }

  std::string path_;
};

// Gives every queued event its pass, as the event loop would, and lets the windows paint.
void RunQueuedPasses(QtWidgetServices& widgets, Program& program) {
  for (int round = 0; round < 5; ++round) {
    QCoreApplication::processEvents();
    for (const Event& event : widgets.TakeQueuedEvents()) {
      kopiensieb::RunPass(program, event);
    }
  }
  kopiensieb::RunPass(program, Event{EventKind::Other, kopiensieb::kMainWindow, -1});
  widgets.PublishPendingRows();
  QCoreApplication::processEvents();
}

void Click(QtWidgetServices& widgets, Program& program, int control) {
  RunQueuedPasses(widgets, program);
  if (auto* button = qobject_cast<QAbstractButton*>(widgets.ControlWidget(control))) {
    button->click();
  }
  RunQueuedPasses(widgets, program);
}

bool SaveScreen(const std::string& path) {
  // Let the window system catch up with the last changes before the picture is taken.
  for (int i = 0; i < 20; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(25);
  }
  const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
  return !screen.isNull() && screen.save(QString::fromStdString(path), "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const std::string outFolder = argc > 1 ? argv[1] : ".";
  SampleFolder samples;
  if (samples.Path().empty()) {
    std::fprintf(stderr, "no sample folder\n");
    return 1;
  }
  QtWidgetServices widgets(
      [&samples](const std::string&, const std::string&) { return samples.Path(); });
  kopiensieb::PosixFileServices files;
  Program program(widgets, files);
  if (!kopiensieb::BuildMainWindow(program)) {
    std::fprintf(stderr, "the main window could not be built\n");
    return 1;
  }
  Click(widgets, program, kopiensieb::kAddFolderButton);
  Click(widgets, program, kopiensieb::kSameContentButton);
  widgets.SelectRow(kopiensieb::kGroupsBox, 0);
  kopiensieb::RunPass(program,
                      Event{EventKind::Control, kopiensieb::kMainWindow, kopiensieb::kGroupsBox});
  RunQueuedPasses(widgets, program);
  const std::string mainShot = outFolder + "/kopiensieb-main.png";
  if (!SaveScreen(mainShot)) {
    std::fprintf(stderr, "could not save %s\n", mainShot.c_str());
    return 1;
  }

  Click(widgets, program, kopiensieb::kDeleteMarkedButton);
  Click(widgets, program, kopiensieb::kToDeleteButton);
  Click(widgets, program, kopiensieb::kSelectAllButton);
  const std::string listShot = outFolder + "/kopiensieb-todelete.png";
  if (!SaveScreen(listShot)) {
    std::fprintf(stderr, "could not save %s\n", listShot.c_str());
    return 1;
  }
  std::printf("%s\n%s\n", mainShot.c_str(), listShot.c_str());
  return 0;
}

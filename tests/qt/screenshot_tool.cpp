// Photographs the program's windows as a user sees them: the real main window built by the
// program's own start-up pieces with Qt's German translations, the real folder dialog that
// "Pfad hinzufügen" opens (answered by a click on its button), the main window after a search
// with a group chosen, and then the ToDelete window over it. Writes kopiensieb-dialog.png,
// kopiensieb-main.png and kopiensieb-todelete.png of the whole screen into the given folder.

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "platform/posix/posix_file_services.h"
#include "platform/qt/german_translations.h"
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
    std::filesystem::create_directory(path_ + "/Ältere Sicherungen");
    std::filesystem::create_directory(path_ + "/Urlaubsfotos");
    Write("Ältere Sicherungen/Größenliste.csv", "Größe;Länge;Höhe");
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

bool SaveScreen(const std::string& path);

// Answers the folder dialog that the next click opens, as a user would: once it shows, it is
// turned to the sample folder, photographed, and taken with its accept button.
class FolderDialogAnswer {
 public:
  FolderDialogAnswer(std::string folder, std::string shot)
      : folder_(std::move(folder)), shot_(std::move(shot)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(50);
  }
  bool Photographed() const { return photographed_; }

 private:
  void Poll() {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
      // A dialog that never comes must not leave the tool waiting.
      if (++polls_ > 200) {
        timer_.stop();
      }
      return;
    }
    timer_.stop();
    dialog->setDirectory(QString::fromStdString(folder_));
    photographed_ = SaveScreen(shot_);
    const auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QPushButton* accept = buttons != nullptr ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (accept != nullptr) {
      accept->click();
    } else {
      dialog->reject();
    }
  }

  std::string folder_;
  std::string shot_;
  QTimer timer_;
  int polls_ = 0;
  bool photographed_ = false;
};

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
  kopiensieb::InstallGermanTranslations(application);
  const std::string outFolder = argc > 1 ? argv[1] : ".";
  SampleFolder samples;
  if (samples.Path().empty()) {
    std::fprintf(stderr, "no sample folder\n");
    return 1;
  }
  QtWidgetServices widgets;
  kopiensieb::PosixFileServices files;
  Program program(widgets, files);
  if (!kopiensieb::BuildMainWindow(program)) {
    std::fprintf(stderr, "the main window could not be built\n");
    return 1;
  }
  const std::string dialogShot = outFolder + "/kopiensieb-dialog.png";
  {
    const FolderDialogAnswer answer(samples.Path(), dialogShot);
    Click(widgets, program, kopiensieb::kAddFolderButton);
    if (!answer.Photographed()) {
      std::fprintf(stderr, "the folder dialog did not show, or %s was not saved\n",
                   dialogShot.c_str());
      return 1;
    }
  }
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
  std::printf("%s\n%s\n%s\n", dialogShot.c_str(), mainShot.c_str(), listShot.c_str());
  return 0;
}

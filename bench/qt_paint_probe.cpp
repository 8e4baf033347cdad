// Not a test: runs long commands of the real program on the Qt widgets and prints how long
// they took and the longest time the windows went without painting meanwhile (a timer asks
// for a repaint every 10 ms, as an uncovered window would). Needs a Qt platform; run it with
// QT_QPA_PLATFORM=offscreen.
//
//   qt_paint_probe [FILES]   (default 100000; half of them share their name with another)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/duplicate_search.h"
#include "catalogue/folder_scan.h"
#include "catalogue/search_index.h"
#include "platform/posix/posix_file_services.h"
#include "platform/qt/qt_widget_services.h"
#include "results/refresh_lists.h"
#include "results/todelete_window.h"
#include "selection/deletion_selection.h"
#include "shell/control_numbers.h"
#include "shell/main_window.h"
#include "shell/program.h"

namespace {

using namespace kopiensieb;

// Records when the program's windows paint.
class PaintClock final : public QObject {
 public:
  explicit PaintClock(const QElapsedTimer& clock) : clock_(clock) {}
  std::vector<qint64> paints;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      paints.push_back(clock_.elapsed());
    }
    return false;
  }

 private:
  const QElapsedTimer& clock_;
};

// Runs a command and prints its time and its longest stretch without a paint.
void Measure(const char* name, PaintClock& paints, const QElapsedTimer& clock,
             const std::function<void()>& command) {
  paints.paints.clear();
  const qint64 start = clock.elapsed();
  command();
  const qint64 end = clock.elapsed();
  qint64 longest = 0;
  qint64 last = start;
  int painted = 0;
  for (const qint64 at : paints.paints) {
    if (at >= start && at <= end) {
      longest = std::max(longest, at - last);
      last = at;
      ++painted;
    }
  }
  longest = std::max(longest, end - last);
  std::printf("%-44s %7lld ms, %5d paints, longest without a paint %5lld ms\n", name,
              static_cast<long long>(end - start), painted, static_cast<long long>(longest));
  std::fflush(stdout);
}

std::string MakeFiles(int count) {
  std::string folder = (std::filesystem::temp_directory_path() / "kopiensieb-paint-XXXXXX");
  if (mkdtemp(folder.data()) == nullptr) {
    return {};
  }
  // Two folders with the same names: every name makes a group in the name search.
  for (const char* half : {"/a", "/b"}) {
    std::filesystem::create_directory(folder + half);
    for (int i = 0; i < count / 2; ++i) {
      std::ofstream(folder + half + "/datei" + std::to_string(i) + ".txt");
    }
  }
  return folder;
}

// Selects every other row of the ToDelete list: one selection range per selected row.
void SelectEveryOtherRow(QtWidgetServices& widgets) {
  const int rows = widgets.CountRows(kToDeleteView);
  for (int row = 0; row < rows; row += 2) {
    widgets.SetRowSelected(kToDeleteView, row, true, false);
  }
  widgets.PublishPendingRows();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100000;
  const std::string folder = MakeFiles(count);
  if (folder.empty()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  QElapsedTimer clock;
  clock.start();
  PaintClock paints(clock);
  application.installEventFilter(&paints);

  QtWidgetServices widgets([&folder](const std::string&, const std::string&) { return folder; },
                           [](const std::string&, const std::string&, MessageIcon) {});
  PosixFileServices files;
  Program program(widgets, files);
  if (!BuildMainWindow(program)) {
    return 1;
  }
  QTimer repaint;
  QObject::connect(&repaint, &QTimer::timeout, [&widgets] {
    for (const int window : {kMainWindow, kToDeleteWindow}) {
      if (QWidget* shown = widgets.WindowWidget(window)) {
        shown->update();
      }
    }
  });
  repaint.start(10);

  std::printf("%d files\n", count);
  Measure("scan (\"Pfad hinzufügen\")", paints, clock, [&] { AddFolderCommand(program); });
  Measure("search by content", paints, clock, [&] {
    FindDuplicates(program, SearchMode::SameContent);
    RefreshLists(program, kRefreshGroups);
  });
  Measure("search by name", paints, clock, [&] {
    FindDuplicates(program, SearchMode::SameName);
    RefreshLists(program, kRefreshGroups);
  });
  Measure("  of it: the search index alone", paints, clock, [&] {
    BuildSearchIndex(program.state.fileCatalogue, SearchMode::SameName, files,
                     [&widgets] { widgets.KeepPainting(); });
  });
  Measure("  of it: showing the groups alone", paints, clock,
          [&] { RefreshLists(program, kRefreshGroups); });
  widgets.SetText(kDeletePatternField, "*.txt");
  Measure("\"Lösche Dateien mit spez. Endung\"", paints, clock,
          [&] { DeleteByPatternCommand(program); });
  Measure("ToDelete window opened", paints, clock, [&] { OpenToDeleteWindow(program); });
  std::printf("ToDelete rows: %d\n", widgets.CountRows(kToDeleteView));

  SelectEveryOtherRow(widgets);
  Measure("\"Mark. verwerfen\", every other row", paints, clock,
          [&] { DiscardSelectedCommand(program); });
  Measure("  of it: showing the list alone", paints, clock,
          [&] { RefreshLists(program, kRefreshToDelete); });
  SelectEveryOtherRow(widgets);
  Measure("\"Mark. löschen\", every other row", paints, clock,
          [&] { DeleteSelectedCommand(program); });
  std::printf("ToDelete rows left: %d\n", widgets.CountRows(kToDeleteView));

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}

// The standard dialogs the program opens, the folder dialog and the message box, read German
// although the process runs under an English locale: the real dialogs are opened through the
// Qt widget services without test hooks, read back and answered by clicks on their buttons.

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/qt/german_translations.h"
#include "platform/qt/qt_widget_services.h"

using kopiensieb::MessageIcon;
using kopiensieb::QtWidgetServices;

namespace {

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kopiensieb-dialog-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// What a user reads on a dialog: the texts of its buttons and labels, without mnemonics.
struct DialogTexts {
  QStringList buttons;
  QStringList labels;
  QString title;
};

QString WithoutMnemonic(QString text) {
  return text.remove(QLatin1Char('&'));
}

DialogTexts ReadTexts(const QWidget& dialog) {
  DialogTexts texts;
  texts.title = dialog.windowTitle();
  for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
    if (button->isVisible() && !button->text().isEmpty()) {
      texts.buttons << WithoutMnemonic(button->text());
    }
  }
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    if (label->isVisible() && !label->text().isEmpty()) {
      texts.labels << WithoutMnemonic(label->text());
    }
  }
  return texts;
}

// Runs `act` on the first modal dialog of type T once it is shown, from inside the modal
// loop that shows it. Gives up after a few seconds, so that a dialog that never comes fails
// the test instead of hanging it.
template <typename T>
class WhenShown {
 public:
  explicit WhenShown(std::function<void(T&)> act) : act_(std::move(act)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  bool Acted() const { return acted_; }

 private:
  void Poll() {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        dialog != nullptr && dialog->isVisible()) {
      timer_.stop();
      acted_ = true;
      act_(*dialog);
      return;
    }
    if (++polls_ > 250) {
      timer_.stop();
      if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
      }
    }
  }

  std::function<void(T&)> act_;
  QTimer timer_;
  int polls_ = 0;
  bool acted_ = false;
};

}  // namespace

class GermanDialogsTest : public QObject {
  Q_OBJECT

 private:
  DialogTexts OpenFolderDialogAndCancel(QtWidgetServices& widgets) {
    DialogTexts texts;
    bool cancelled = false;
    WhenShown<QFileDialog> cancel([&](QFileDialog& dialog) {
      texts = ReadTexts(dialog);
      const QDialogButtonBox* box = dialog.findChild<QDialogButtonBox*>();
      if (box != nullptr && box->button(QDialogButtonBox::Cancel) != nullptr) {
        QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        cancelled = true;
      } else {
        dialog.reject();
      }
    });
    const std::string chosen = widgets.ChooseFolder("Ordner wählen", "/");
    if (!cancel.Acted() || !cancelled || !chosen.empty()) {
      texts = DialogTexts{};
    }
    return texts;
  }

  DialogTexts ShowMessageBoxAndConfirm(QtWidgetServices& widgets) {
    DialogTexts texts;
    WhenShown<QMessageBox> confirm([&](QMessageBox& box) {
      texts = ReadTexts(box);
      if (box.buttons().size() == 1) {
        QTest::mouseClick(box.buttons().front(), Qt::LeftButton);
      } else {
        box.done(0);
      }
    });
    widgets.ShowMessageBox("ERROR", "Datei /tmp/ä.txt nicht löschbar", MessageIcon::Error);
    if (!confirm.Acted()) {
      texts = DialogTexts{};
    }
    return texts;
  }

 private slots:
  void initTestCase() {
    // An English user; the program's dialogs must not follow this.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }

  // Without the translations the same reading finds English, so the checks below can tell.
  void withoutTranslationsTheDialogsSpeakEnglish() {
    QtWidgetServices widgets;
    const DialogTexts folder = OpenFolderDialogAndCancel(widgets);
    QVERIFY2(folder.buttons.contains(QStringLiteral("Cancel")),
             qPrintable(folder.buttons.join(QLatin1Char('|'))));
    QVERIFY(!folder.buttons.contains(QStringLiteral("Abbrechen")));
  }

  void theFolderDialogSpeaksGerman() {
    QVERIFY2(kopiensieb::InstallGermanTranslations(*QCoreApplication::instance()),
             "Qt's German translations (qtbase_de.qm) are not installed");
    QtWidgetServices widgets;
    const DialogTexts folder = OpenFolderDialogAndCancel(widgets);
    const QString buttons = folder.buttons.join(QLatin1Char('|'));
    const QString labels = folder.labels.join(QLatin1Char('|'));
    QVERIFY2(folder.buttons.contains(QStringLiteral("Abbrechen")), qPrintable(buttons));
    QVERIFY2(folder.buttons.contains(QStringLiteral("Auswählen")), qPrintable(buttons));
    QVERIFY2(folder.labels.contains(QStringLiteral("Suchen in:")), qPrintable(labels));
    for (const QString& english : {QStringLiteral("Cancel"), QStringLiteral("Choose")}) {
      QVERIFY2(!folder.buttons.contains(english), qPrintable(buttons));
    }
    QVERIFY2(!folder.labels.contains(QStringLiteral("Look in:")), qPrintable(labels));
    QCOMPARE(folder.title, QStringLiteral("Ordner wählen"));
  }

  // The dialog is Qt's own, with a field a user clicks into, types the folder into, and a
  // button to take it.
  void theFolderDialogTakesATypedFolder() {
    const ScratchFolder scratch;
    QVERIFY(!scratch.Path().empty());
    const std::string folder = scratch.Path() + "/Ältere Sicherungen";
    QVERIFY(std::filesystem::create_directory(folder));
    QtWidgetServices widgets;
    WhenShown<QFileDialog> choose([&](QFileDialog& dialog) {
      auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      const auto* buttons = dialog.findChild<QDialogButtonBox*>();
      QAbstractButton* accept =
          buttons != nullptr ? buttons->button(QDialogButtonBox::Open) : nullptr;
      if (field == nullptr || accept == nullptr) {
        dialog.reject();
        return;
      }
      // The dialog rewrites an unfocused field whenever its list selection follows the text,
      // so the typing goes, as a user's does, into the focused field of the active dialog.
      dialog.activateWindow();
      if (!QTest::qWaitForWindowActive(&dialog)) {
        dialog.reject();
        return;
      }
      QTest::mouseClick(field, Qt::LeftButton);
      field->selectAll();
      QTest::keyClicks(field, QString::fromStdString(folder));
      QTest::mouseClick(accept, Qt::LeftButton);
    });
    const std::string chosen = widgets.ChooseFolder("Ordner wählen", "/");
    QVERIFY(choose.Acted());
    QCOMPARE(QString::fromStdString(chosen), QString::fromStdString(folder + "/"));
  }

  void theMessageBoxKeepsTheProgramsTexts() {
    QtWidgetServices widgets;
    const DialogTexts box = ShowMessageBoxAndConfirm(widgets);
    // German reads "OK" as English does; what the translations must not do is touch the
    // program's own texts, the English title "ERROR" included.
    QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QVERIFY2(box.labels.contains(QStringLiteral("Datei /tmp/ä.txt nicht löschbar")),
             qPrintable(box.labels.join(QLatin1Char('|'))));
  }
};

int main(int argc, char* argv[]) {
  // The dialogs are to read German whatever the user's language settings say.
  setenv("LANG", "en_US.UTF-8", 1);
  setenv("LANGUAGE", "en_US", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  QApplication application(argc, argv);
  GermanDialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "german_dialogs_test.moc"

#include "platform/qt/german_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace kopiensieb {

bool InstallGermanTranslations(QCoreApplication& application) {
  const QLocale german(QLocale::German, QLocale::Germany);
  // The folder dialog then also sorts names the German way ("Ä" beside "A").
  QLocale::setDefault(german);
  // qtbase holds the texts of every dialog and button the program shows; the other
  // catalogues belong to Qt modules it does not use.
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get())) {
    return false;
  }
  // The application owns it from here (Qt parenthood) and removes it when it goes.
  translator.release()->setParent(&application);
  return true;
}

}  // namespace kopiensieb

#include "platform/qt/german_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace kopiensieb {

bool InstallGermanTranslations(QCoreApplication& application) {
  // qtbase holds the texts of every dialog and button the program shows; the other
  // catalogues belong to Qt modules it does not use.
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get())) {
    return false;
  }
  // The application owns it from here (Qt parenthood) and removes it when it goes.
  translator.release()->setParent(&application);
  return true;
}

}  // namespace kopiensieb

#pragma once

class QCoreApplication;

namespace kopiensieb {

// Makes Qt's own dialogs (the folder dialog, the buttons of message boxes) speak German like
// the rest of the program, whatever the user's locale; Qt's default locale becomes German as
// well. The translator lives as long as the application. Returns false, and leaves Qt's own
// language, when Qt's German translations are not installed.
bool InstallGermanTranslations(QCoreApplication& application);

}  // namespace kopiensieb

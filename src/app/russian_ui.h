#pragma once
// Qt's own texts (standard buttons, the file and folder pickers) in Russian,
// like every other text of the program.

class QCoreApplication;
class QTranslator;

namespace tbx {

// Loads qtbase_ru from Qt's translations folder whatever the user's locale,
// and makes Russian the default locale for dates and sizes in the pickers.
// Returns the installed translator (owned by app), or nullptr when the
// translation is not installed (Debian's qt6-translations-l10n).
QTranslator* InstallRussianQtTranslation(QCoreApplication& app);

} // namespace tbx

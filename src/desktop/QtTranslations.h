// Qt's own texts (the buttons of message boxes, the standard dialogs such as the directory
// chooser, the text fields' context menus) in simplified Chinese whatever the session's locale:
// the program speaks Chinese throughout. The translations are Debian's qt6-translations-l10n.
#pragma once

class QCoreApplication;
class QTranslator;

namespace desktop {

// Installs Qt's simplified Chinese translations in `application`, which owns them; null (and a
// line on standard error) when they are not installed, so Qt's texts stay English.
QTranslator* InstallChineseQtTexts(QCoreApplication& application);

} // namespace desktop

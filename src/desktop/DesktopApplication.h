// The application as the desktop sees it: the desktop entry that names it and gives it its icon
// in task bars (the Wayland app id, the X11 class), and Qt's own texts (the buttons of message
// boxes, the standard dialogs such as the directory chooser, the text fields' context menus) in
// simplified Chinese whatever the session's locale, since the program speaks Chinese throughout.
#pragma once

class QCoreApplication;
class QGuiApplication;
class QTranslator;

namespace desktop {

// The name of the installed desktop entry, com.example.dcrelay.desktop, without its suffix.
inline constexpr const char* kDesktopEntry = "com.example.dcrelay";

// Names the desktop entry and installs the Chinese texts, for the window face.
void SetUpDesktopApplication(QGuiApplication& application);

// Makes Chinese (China) the default locale and installs Qt's simplified Chinese translations
// (Debian's qt6-translations-l10n) in `application`, which owns them; null (and a line on
// standard error) when they are not installed, so Qt's texts stay English.
QTranslator* InstallChineseQtTexts(QCoreApplication& application);

} // namespace desktop

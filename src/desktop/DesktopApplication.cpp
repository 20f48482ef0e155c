#include "desktop/DesktopApplication.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

namespace desktop {

void SetUpDesktopApplication(QGuiApplication& application) {
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntry));
    InstallChineseQtTexts(application);
}

QTranslator* InstallChineseQtTexts(QCoreApplication& application) {
    // Dates and numbers in Qt's dialogs as a Chinese reader writes them; nothing in the program
    // parses text through the default locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), dir) ||
        !QCoreApplication::installTranslator(translator)) {
        std::fprintf(stderr,
                     "dcrelay: Qt's Chinese translations are missing from %s (Debian package "
                     "qt6-translations-l10n): Qt's own buttons and dialogs stay English\n",
                     qPrintable(dir));
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace desktop

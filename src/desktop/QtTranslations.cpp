#include "desktop/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

namespace desktop {

QTranslator* InstallChineseQtTexts(QCoreApplication& application) {
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

#include "support/Widgets.h"

#include "app/PumpWait.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>

namespace testsupport {

void ClearProgramEnd() {
    app::SetProgramEnding(false);
    // exec() clears the application's quit request before it runs; the queued quit ends it.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

void OnNextModal(std::function<void(QDialog*)> act) {
    QWidget* before = QApplication::activeModalWidget();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, before, deadline, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        bool opened = dialog != nullptr && dialog != before && dialog->isVisible();
        if (opened || std::chrono::steady_clock::now() > deadline) {
            timer->stop();
            timer->deleteLater();
            if (opened) {
                act(dialog);
            }
        }
    });
    timer->start(5);
}

} // namespace testsupport

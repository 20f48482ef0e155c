#include "desktop/TrayIcon.h"

#include "desktop/TrayHost.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

namespace desktop {

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner) {
    connect(&tray_, &QSystemTrayIcon::activated, this, &TTrayIcon::Activated);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, &TTrayIcon::EndSession);
    }
}

TTrayIcon::~TTrayIcon() {
    tray_.hide();
}

void TTrayIcon::SetActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    if (!active) {
        tray_.hide();
        return;
    }
    tray_.show();
    // Qt has chosen the kind of tray by now. The exported menu reaches a StatusNotifierItem host
    // before it reads the item's properties, which it does through this thread's event loop.
    statusNotifier_ = QSystemTrayIcon::isSystemTrayAvailable() && StatusNotifierHostPresent();
    tray_.setContextMenu(statusNotifier_ ? menu_ : nullptr);
    if (toolTip_.isEmpty()) {
        QMetaObject::invokeMethod(this, &TTrayIcon::ReapplyToolTip, Qt::QueuedConnection);
    }
}

void TTrayIcon::SetIcon(const QIcon& icon) {
    icon_ = icon;
    tray_.setIcon(icon_); // QSystemTrayIcon shows it only while visible
}

void TTrayIcon::SetToolTip(const QString& tip) {
    toolTip_ = tip.left(kMaxToolTip);
    tray_.setToolTip(toolTip_);
}

void TTrayIcon::EndSession() {
    if (OnEndSession) {
        OnEndSession(this);
    } else {
        QCoreApplication::quit();
    }
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (statusNotifier_) {
            if (OnDblClick) {
                OnDblClick(this);
            }
        } else if (OnClick) {
            OnClick(this);
        }
        break;
    case QSystemTrayIcon::DoubleClick:
        if (OnDblClick) {
            OnDblClick(this);
        }
        break;
    case QSystemTrayIcon::Context: {
        const QPoint at = QCursor::pos();
        if (OnRightClick) {
            OnRightClick(this, Qt::RightButton, Qt::NoModifier, at.x(), at.y());
        }
        break;
    }
    default:
        break;
    }
}

} // namespace desktop

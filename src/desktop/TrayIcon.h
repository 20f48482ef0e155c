// TTrayIcon: the program's icon in the desktop's notification area, over QSystemTrayIcon
// (StatusNotifierItem where a watcher exists, an XEmbed tray icon on X11 otherwise).
//
// The desktop's events map onto the icon's three events by the kind of tray. In an XEmbed tray a
// left click is OnClick, a double-click OnDblClick and a right click OnRightClick. A
// StatusNotifierItem host has no double-click: its activation (a click) is OnDblClick, the
// gesture that opens the program, and it shows the exported Menu() itself on a right click.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class QMenu;

namespace desktop {

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TTrayIcon* sender)>;
    // Right button released: the button, the modifiers held and the pointer's screen position.
    using TMouseEvent = std::function<void(TTrayIcon* sender, Qt::MouseButton button,
                                           Qt::KeyboardModifiers shift, int x, int y)>;

    // The longest tip shown, in characters.
    static constexpr int kMaxToolTip = 62;

    explicit TTrayIcon(QObject* owner = nullptr);
    ~TTrayIcon() override;

    bool Active() const { return active_; }
    // Adds the icon (true) or removes it (false). Activating with an empty tip re-applies the
    // tip once the event loop runs, so a tip set meanwhile reaches the icon.
    void SetActive(bool active);
    // Shows the icon in a form designer; without effect in the running program.
    bool ShowDesigning() const { return showDesigning_; }
    void SetShowDesigning(bool show) { showDesigning_ = show; }
    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    const QString& ToolTip() const { return toolTip_; }
    // Keeps the first kMaxToolTip characters.
    void SetToolTip(const QString& tip);
    // The icon's menu. A StatusNotifierItem host shows it itself, so it is exported with the
    // icon; in an XEmbed tray OnRightClick decides what a right click opens. Set before
    // activating.
    void SetMenu(QMenu* menu) { menu_ = menu; }
    QMenu* Menu() const { return menu_; }
    // The icon was exported as a StatusNotifierItem when it was last activated.
    bool StatusNotifier() const { return statusNotifier_; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnRightClick;
    // The desktop session ends; unbound, the application quits.
    TNotifyEvent OnEndSession;

    // The platform icon, for the window's tests.
    QSystemTrayIcon& PlatformIcon() { return tray_; }

public slots:
    // The desktop session is ending.
    void EndSession();

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);
    void ReapplyToolTip() { SetToolTip(toolTip_); }

    QSystemTrayIcon tray_;
    bool active_ = false;
    bool showDesigning_ = false;
    bool statusNotifier_ = false;
    QMenu* menu_ = nullptr;
    QIcon icon_;
    QString toolTip_;
};

} // namespace desktop

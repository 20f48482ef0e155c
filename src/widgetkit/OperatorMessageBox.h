// The program's message boxes: a dialog's message to the operator, the main window's messages
// and its error box, each modal on its parent window.
#pragma once

#include "text/Messages.h"
#include "widgetkit/QtText.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QWidget>

namespace widgetkit {

// A window manager elides a caption that is wider than the box's title bar ("参… 置"). The box
// is made wide enough for its caption in a title font up to half as large again as the text's,
// beside an icon and three title-bar buttons.
inline int CaptionWidth(const QFontMetrics& text, const QString& caption) {
    constexpr int kTitleBarExtras = 4 * 28;
    return text.horizontalAdvance(caption) * 3 / 2 + kTitleBarExtras;
}

inline void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                           const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid != nullptr) { // QMessageBox sizes itself to its layout: a spacer row sets the floor
        grid->addItem(new QSpacerItem(CaptionWidth(box.fontMetrics(), caption), 0,
                                      QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

inline QMessageBox::Icon IconOf(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Warning:
        return QMessageBox::Warning;
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

inline void ShowOperatorMessage(QWidget* parent, const OperatorMessage& message) {
    ShowMessageBox(parent, IconOf(message.Kind), parent->windowTitle(), FromGbk(message.Text));
}

} // namespace widgetkit

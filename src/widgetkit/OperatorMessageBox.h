// A dialog's message to the operator shown as a modal message box on that dialog.
#pragma once

#include "text/Messages.h"
#include "widgetkit/QtText.h"

#include <QMessageBox>
#include <QWidget>

namespace widgetkit {

inline void ShowOperatorMessage(QWidget* parent, const OperatorMessage& message) {
    const QMessageBox::Icon icon = message.Kind == MessageKind::Error ? QMessageBox::Critical
                                   : message.Kind == MessageKind::Information
                                       ? QMessageBox::Information
                                       : QMessageBox::NoIcon;
    QMessageBox box(icon, parent->windowTitle(), FromGbk(message.Text), QMessageBox::Ok, parent);
    box.exec();
}

} // namespace widgetkit

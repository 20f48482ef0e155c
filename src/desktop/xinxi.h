// Tfrm_tishi: the download prompt shown on a base station's ready notice. Modal, centred on its
// parent; "开始" confirms, "取消" or closing cancels.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace desktop {

class Tfrm_tishi : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_tishi(QWidget* parent = nullptr);

    QLabel* Label1;          // the two red lines
    QPushButton* btn_Start;  // "开始"
    QPushButton* btn_Cancel; // "取消"
};

} // namespace desktop

// The desktop's small widgets, offscreen: tray icon events and tip, the operation record
// viewer's filter, the download prompt, the icons.
#include "support/Widgets.h"
#include "desktop/DesktopApplication.h"
#include "desktop/Icons.h"
#include "desktop/OpLog.h"
#include "desktop/TrayIcon.h"
#include "desktop/xinxi.h"
#include "text/Gbk.h"
#include "widgetkit/OperatorMessageBox.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTranslator>
#include <gmock/gmock.h>

using namespace desktop;
using testing::ElementsAre;

namespace {

QStringList Row(QTableWidget* grid, int row) {
    QStringList cells;
    for (int c = 0; c < grid->columnCount(); ++c) {
        cells << (grid->item(row, c) != nullptr ? grid->item(row, c)->text() : QString());
    }
    return cells;
}

TEST(Widgets, TrayEventsReachTheirHandlersAndTheTipIsCut) {
    TTrayIcon tray;
    std::vector<std::string> events;
    tray.OnClick = [&](TTrayIcon*) { events.push_back("click"); };
    tray.OnDblClick = [&](TTrayIcon*) { events.push_back("double"); };
    tray.OnRightClick = [&](TTrayIcon*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        events.push_back(b == Qt::RightButton ? "right" : "other");
    };
    tray.OnEndSession = [&](TTrayIcon*) { events.push_back("end"); };
    emit tray.PlatformIcon().activated(QSystemTrayIcon::Trigger);
    emit tray.PlatformIcon().activated(QSystemTrayIcon::DoubleClick);
    emit tray.PlatformIcon().activated(QSystemTrayIcon::Context);
    emit tray.PlatformIcon().activated(QSystemTrayIcon::MiddleClick);
    tray.EndSession();
    EXPECT_THAT(events, ElementsAre("click", "double", "right", "end"));

    tray.SetIcon(ProgramIcon());
    tray.SetActive(true);
    tray.SetToolTip(QString(70, QChar(0x83DC))); // 菜 x 70
    EXPECT_EQ(tray.ToolTip(), QString(62, QChar(0x83DC)));
    EXPECT_EQ(tray.PlatformIcon().toolTip(), tray.ToolTip());
}

// Numbered rows and no empty one after them; requests and answers told apart; the whole data
// in every cell's tip.
TEST(Widgets, OperationRecordViewerNumbersItsRowsAndTellsAnswersFromRequests) {
    std::vector<QStringList> rows;
    QString tip;
    testsupport::OnNextModal([&](QDialog* d) {
        auto* viewer = qobject_cast<Tfrm_OpLog*>(d);
        ASSERT_NE(viewer, nullptr);
        for (int r = 0; r < viewer->StringGrid1->rowCount(); ++r) {
            rows.push_back(Row(viewer->StringGrid1, r));
        }
        tip = viewer->StringGrid1->item(1, 1)->toolTip();
        QTest::mouseClick(viewer->btn_OK, Qt::LeftButton);
    });
    const std::string data = "10:00:01 " + std::string(120, 'x');
    ShowOperationRecords(nullptr, {{"0A", "007", "DL", " x "}, {"0A", "007", "DL", data, true}});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].join("|"), "1|0A|007|DL 请求| x ");
    EXPECT_EQ(rows[1].join("|"), QString::fromStdString("2|0A|007|DL 回复|" + data));
    EXPECT_EQ(tip, QString::fromStdString("DL 回复\n" + data));
}

TEST(Widgets, DownloadPromptConfirmsWithStartAndCancelsOtherwise) {
    Tfrm_tishi prompt;
    testsupport::OnNextModal([](QDialog* d) {
        QTest::mouseClick(static_cast<Tfrm_tishi*>(d)->btn_Start, Qt::LeftButton);
    });
    EXPECT_EQ(prompt.exec(), QDialog::Accepted);
    testsupport::OnNextModal([](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); });
    EXPECT_EQ(prompt.exec(), QDialog::Rejected);
}

TEST(Widgets, IconsRenderAtEverySizeAndTheLoggedInOneHasARedLamp) {
    for (int size : {16, 32, 64}) {
        EXPECT_EQ(ProgramIcon().pixmap(size).width(), size);
    }
    auto redPixels = [](int state) {
        QImage img = HandheldStateIcon(state).pixmap(32).toImage();
        int red = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                QColor c = img.pixelColor(x, y);
                red += (c.alpha() > 200 && c.red() > 200 && c.green() < 100) ? 1 : 0;
            }
        }
        return red;
    };
    EXPECT_EQ(redPixels(1), 0);
    EXPECT_GT(redPixels(2), 20);
    EXPECT_TRUE(HandheldStateIcon(0).isNull());
}

// Qt's own buttons and dialogs in Chinese, whatever the locale (the tests run in C).
TEST(Widgets, QtsOwnTextsAreChinese) {
    QTranslator* translator = InstallChineseQtTexts(*qApp);
    ASSERT_NE(translator, nullptr);
    QString ok;
    testsupport::OnNextModal([&](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_NE(box, nullptr);
        ok = box->button(QMessageBox::Ok)->text();
        box->accept();
    });
    QWidget parent;
    parent.setWindowTitle(QString::fromUtf8("无线基站设置程序"));
    widgetkit::ShowOperatorMessage(&parent, {MessageKind::Warning, text::ToGbk("设置失败")});
    EXPECT_EQ(ok, QString::fromUtf8("确定"));

    QStringList buttons;
    testsupport::OnNextModal([&](QDialog* d) {
        for (auto* button : d->findChildren<QPushButton*>()) {
            buttons << button->text().remove(QLatin1Char('&'));
        }
        d->reject();
    });
    QFileDialog::getExistingDirectory(&parent, QString::fromUtf8("选择"), "/tmp", {});
    EXPECT_TRUE(buttons.contains(QString::fromUtf8("取消"))) << buttons.join(',').toStdString();
    delete translator;
}

} // namespace

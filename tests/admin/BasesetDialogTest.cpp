// The base-station dialog with its real widgets, offscreen, over recorded ports and waits.
#include "admin/Baseset.h"

#include "baselink/PdaReply.h"
#include "baselink/xyTypeConv.h"
#include "support/Widgets.h"
#include "text/Gbk.h"
#include "widgetkit/OperatorMessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace admin;
using ::testing::ElementsAre;

namespace {

// Ports and waits of the main window: frames are recorded; the station on slot 1 answers a
// query with channel 05, the others stay silent.
struct Station : BasePorts, Waits {
    std::vector<std::string> frames;
    std::array<std::string, kStationCount>* channelText = nullptr;
    std::function<void()> duringWait;

    bool SendData(int slot, const std::string& bytes) override {
        const std::string hex = HexCodec::BytesToHex(bytes);
        const bool channelFrame = hex.starts_with("AA40");
        frames.push_back(std::to_string(slot) + " " + hex.substr(0, 4) +
                         (channelFrame ? " " + hex.substr(12, 4) : ""));
        if (slot == 1 && hex.starts_with("AA00")) {
            (*channelText)[0] = "05";
        }
        return true;
    }
    void Wait(unsigned, unsigned) override {
        if (duringWait) {
            duringWait();
        }
    }
    bool Ending() const override { return false; }
};

struct BasesetDialogTest : ::testing::Test {
    void SetUp() override {
        station.channelText = &channelText;
        dialog.ShowMessage = [this](const OperatorMessage& m) {
            messages.push_back(text::ToUtf8(m.Text));
        };
        dialog.show();
    }
    void Choose(int entry) {
        dialog.ComboBox1->setCurrentIndex(entry);
        emit dialog.ComboBox1->activated(entry);
    }

    Station station;
    std::array<std::string, kStationCount> ids{"0A", "", "zz", ""};
    std::array<std::string, kStationCount> channelText{"07", "", "", ""};
    Tfrm_baseSet dialog{{text::ToGbk("基站1"), text::ToGbk("基站2"), text::ToGbk("基站3")},
                        station,
                        station,
                        ids,
                        channelText};
    std::vector<std::string> messages;
};

TEST_F(BasesetDialogTest, OpensWithNothingChosenAndTheClockShown) {
    EXPECT_EQ(dialog.windowTitle(), "无线基站设置程序");
    EXPECT_EQ(dialog.ComboBox1->count(), 3);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(dialog.ComboBox2->count(), 64);
    EXPECT_EQ(dialog.ComboBox2->currentIndex(), -1);
    EXPECT_TRUE(dialog.Edit1->text().isEmpty());
    const QRegularExpression clock("^20\\d\\d年\\d+月\\d+日 星期[1-7] \\d+:\\d+:\\d+$");
    EXPECT_TRUE(clock.match(dialog.Label4->text()).hasMatch())
        << dialog.Label4->text().toStdString();
    EXPECT_TRUE(dialog.Timer1.isActive());
}

TEST_F(BasesetDialogTest, AChoiceFillsTheFieldsAndTheSetButtonSetsTheChosenStation) {
    Choose(0);
    EXPECT_EQ(dialog.Edit1->text(), "10");
    EXPECT_EQ(dialog.ComboBox2->currentText(), "07");
    Choose(2);
    EXPECT_THAT(messages, ElementsAre("基站ID“zz”不是十六进制数"));
    Choose(0);
    dialog.ComboBox2->setCurrentIndex(4);
    int pressesInWaits = 0;
    station.duringWait = [&] {
        if (pressesInWaits++ == 0) {
            QTest::mouseClick(dialog.btn_Set, Qt::LeftButton);
        }
    };
    QTest::mouseClick(dialog.btn_Set, Qt::LeftButton); // the press inside a wait is ignored
    EXPECT_THAT(station.frames, ElementsAre("1 AA41", "1 AA40 0A04", "1 AA00"));
    EXPECT_EQ(messages.back(), "设置成功");

    station.frames.clear();
    Choose(1); // no ID: the field keeps the first station's, which goes to the second
    EXPECT_EQ(dialog.Edit1->text(), "10");
    QTest::mouseClick(dialog.btn_Set, Qt::LeftButton);
    EXPECT_THAT(station.frames, ElementsAre("2 AA41", "2 AA40 0A04", "2 AA00"));
    EXPECT_EQ(messages.back(), "设置失败");
}

// The dialog's own message boxes: "设置失败" carries the warning icon, and the box is wide
// enough for the dialog's caption, which a narrow box's title bar would elide.
TEST_F(BasesetDialogTest, AFailedSettingShowsAWarningBoxWideEnoughForTheCaption) {
    dialog.ShowMessage = [this](const OperatorMessage& m) {
        widgetkit::ShowOperatorMessage(&dialog, m);
    };
    Choose(0);
    Choose(1); // the second station stays silent
    dialog.ComboBox2->setCurrentIndex(4);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    int width = 0;
    int needed = 0;
    testsupport::OnNextModal([&](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        text = box->text();
        width = box->width();
        needed = widgetkit::CaptionWidth(box->fontMetrics(), box->windowTitle());
        box->accept();
    });
    QTest::mouseClick(dialog.btn_Set, Qt::LeftButton);
    EXPECT_EQ(text, "设置失败");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_GE(width, needed);
}

TEST_F(BasesetDialogTest, TheChannelListOpensAtANormalHeight) {
    dialog.ComboBox2->showPopup();
    QAbstractItemView* list = dialog.ComboBox2->view();
    ASSERT_TRUE(list->window()->isVisible());
    const int rows = list->window()->height() / list->sizeHintForRow(0);
    EXPECT_LE(rows, 16) << "of 64 channels";
    EXPECT_GE(rows, 8);
    dialog.ComboBox2->hidePopup();
}

} // namespace

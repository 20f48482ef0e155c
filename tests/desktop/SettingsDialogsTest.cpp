// The two settings dialogs opened from the main window, offscreen, on an installation whose base
// station 1 is simulated: what the operator does in them reaches the files, the window and the
// station.
#include "admin/Baseset.h"
#include "app/PumpWait.h"
#include "config/Pdaparamsset.h"
#include "desktop/Unit1.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "support/Widgets.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The main window with its own messages recorded instead of shown.
struct MessageRecordingForm : desktop::TForm1 {
    void ShowMessage(const std::string&, const std::string& message) override {
        shown.push_back(text::ToUtf8(message));
    }
    void ShowError(const std::string& message) override { shown.push_back(text::ToUtf8(message)); }
    std::vector<std::string> shown;
};

struct SettingsDialogs : testing::Test {
    void SetUp() override {
        sim = std::make_unique<testsupport::BaseSim>(
            std::vector<std::string>{"--link", inst.Port("COM1"), "--stay"});
        ASSERT_TRUE(sim->Start()) << sim->Error();
        menu::DownloadPacing quick;
        quick.beforeCycle = quick.afterBlockZero = quick.afterPacket = 1ms;
        quick.beforeCycleRandom = 1;
        quick.stopWait = quick.readyWait = 50ms;
        controller =
            &form.CreateController(inst.Dir(), app::Markers{}, inst.RuntimeDir(), "", quick);
        controller->Create();
        ASSERT_TRUE(Scanned());
    }
    void TearDown() override { testsupport::ClearProgramEnd(); }
    bool Scanned() {
        return testsupport::PumpUntil([&] { return !controller->Scan().Scanning(); }, 5s);
    }
    QStringList Tree() const {
        QStringList texts;
        const QTreeWidgetItem* station = form.TreeView1->topLevelItem(0);
        for (int i = 0; i < station->childCount(); ++i) {
            texts << station->child(i)->text(0);
        }
        return texts;
    }
    // Runs `act` in the dialog of type D that the button opens, recording its messages.
    template <class D> void InDialog(QAbstractButton* button, std::function<void(D&)> act) {
        testsupport::OnNextModal([&](QDialog* opened) {
            auto* dialog = qobject_cast<D*>(opened);
            ASSERT_NE(dialog, nullptr);
            dialog->ShowMessage = [&](const OperatorMessage& m) {
                messages.push_back(text::ToUtf8(m.Text));
            };
            act(*dialog);
        });
        QTest::mouseClick(button, Qt::LeftButton);
    }

    testsupport::Instance inst;
    std::unique_ptr<testsupport::BaseSim> sim;
    MessageRecordingForm form;
    app::MainController* controller = nullptr;
    std::vector<std::string> messages;
};

TEST_F(SettingsDialogs, ExitWithoutSavingStillReloadsRebuildsAndScans) {
    inst.WriteRegistry({{"007"}, {}, {}, {}});
    InDialog<config::Tfrm_PDAParam>(form.btn_ParamSet, [](config::Tfrm_PDAParam& dialog) {
        EXPECT_EQ(dialog.Tabs[0].List->item(0)->text(), "007");
        QTest::mouseClick(dialog.btn_Exit, Qt::LeftButton);
    });
    EXPECT_EQ(Tree(), QStringList{"007"});
    EXPECT_TRUE(controller->Scan().Scanning());
    EXPECT_TRUE(Scanned());

    InDialog<config::Tfrm_PDAParam>(form.btn_ParamSet, [](config::Tfrm_PDAParam& dialog) {
        QTest::keyClicks(dialog.Tabs[0].Handheld, "9");
        QTest::mouseClick(dialog.Tabs[0].Add, Qt::LeftButton);
        QTest::mouseClick(dialog.btn_Save, Qt::LeftButton);
        dialog.close();
    });
    EXPECT_EQ(messages, std::vector<std::string>{"参数设置完成"});
    EXPECT_EQ(Tree(), (QStringList{"007", "009"}));
}

// The installation's parameter file has an empty "Path": after the dialog, as at start-up, the
// menu directory is the program directory's txt/, not the working directory.
TEST_F(SettingsDialogs, ADownloadAfterExitPacksFromTheProgramDirectorysTxt) {
    InDialog<config::Tfrm_PDAParam>(form.btn_ParamSet, [](config::Tfrm_PDAParam& dialog) {
        QTest::mouseClick(dialog.btn_Exit, Qt::LeftButton);
    });
    ASSERT_TRUE(Scanned());
    QTest::mouseClick(form.Button9, Qt::LeftButton);
    EXPECT_EQ(form.shown, std::vector<std::string>{});
    EXPECT_EQ(text::ReadFile(inst.Dir() + "txt/FF.bin").value_or("").size(), 786432u);
    EXPECT_TRUE(sim->WaitForKind("start", 5s));
    QTest::mouseClick(form.Button12, Qt::LeftButton);
}

TEST_F(SettingsDialogs, TheBaseStationDialogSetsTheChosenStation) {
    InDialog<admin::Tfrm_baseSet>(form.btn_BaseSet, [](admin::Tfrm_baseSet& dialog) {
        dialog.ComboBox1->setCurrentIndex(0);
        emit dialog.ComboBox1->activated(0);
        EXPECT_EQ(dialog.Edit1->text(), "2");
        EXPECT_EQ(dialog.ComboBox2->currentText(), "01");
        dialog.ComboBox2->setCurrentIndex(11);
        QTest::mouseClick(dialog.btn_Set, Qt::LeftButton);
        QTest::mouseClick(dialog.btn_Close, Qt::LeftButton);
    });
    EXPECT_EQ(messages, std::vector<std::string>{"设置成功"});
    EXPECT_EQ(text::ToUtf8(controller->Scan().ChannelText[0]), "12");
}

} // namespace

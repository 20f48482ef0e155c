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

struct SettingsDialogs : testing::Test {
    void SetUp() override {
        sim = std::make_unique<testsupport::BaseSim>(
            std::vector<std::string>{"--link", inst.Port("COM1"), "--stay"});
        ASSERT_TRUE(sim->Start()) << sim->Error();
        controller = &form.CreateController(inst.Dir(), app::Markers{}, inst.RuntimeDir(), "");
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
    desktop::TForm1 form;
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

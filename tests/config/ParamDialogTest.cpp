// The parameter dialog with its real widgets, offscreen: key presses and clicks through QTest,
// the two files in a temporary program directory whose ports/ offers COM1 and COM2.
#include "config/Pdaparamsset.h"

#include "config/ConfigTestSupport.h"
#include "config/HandheldRegistry.h"
#include "support/Widgets.h"
#include "support/WithoutFileOverride.h"
#include "text/Gbk.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace config;
using configtest::ReadAll;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

const std::string kSettings = "[Menu]\r\nCOM1=com1\r\njzdz1=0A\r\nDelay=200\r\n";

struct ParamDialogTest : ::testing::Test {
    void SetUp() override {
        fs::create_directory(dir.path + "ports");
        fs::create_symlink("/dev/null", dir.path + "ports/COM1");
        fs::create_symlink("/dev/null", dir.path + "ports/COM2");
    }
    void Write(const std::string& settings, const std::string& registry) {
        text::WriteFileAtomic(dir.File(kSettingsFileName), settings);
        text::WriteFileAtomic(dir.File(kRegistryFileName), text::ToGbk(registry));
    }
    Tfrm_PDAParam& Open() {
        dialog = std::make_unique<Tfrm_PDAParam>(dir.path);
        dialog->ShowMessage = [this](const OperatorMessage& m) {
            messages.push_back(text::ToUtf8(m.Text));
        };
        dialog->show();
        QApplication::processEvents();
        return *dialog;
    }
    std::vector<std::string> Listed(int tab) const {
        std::vector<std::string> items;
        const QListWidget* list = dialog->Tabs[tab].List;
        for (int row = 0; row < list->count(); ++row) {
            items.push_back(list->item(row)->text().toStdString());
        }
        return items;
    }
    void Add(int tab, const char* typed) {
        dialog->PageControl1->setCurrentIndex(tab);
        QTest::keyClicks(dialog->Tabs[tab].Handheld, typed);
        QTest::mouseClick(dialog->Tabs[tab].Add, Qt::LeftButton);
    }
    void ChoosePort(int tab, const char* name) { dialog->Tabs[tab].Port->setCurrentText(name); }
    std::string LastMessage() const { return messages.empty() ? "" : messages.back(); }

    configtest::TempDir dir;
    std::unique_ptr<Tfrm_PDAParam> dialog;
    std::vector<std::string> messages;
};

TEST_F(ParamDialogTest, AddingKeepsTheRulesOfTheAddButton) {
    Write(kSettings, "[基站1]\r\nPDA1=\r\n");
    Open();
    Add(0, "191");
    Add(0, "192");
    EXPECT_EQ(LastMessage(), "手持机号不能大于191");
    dialog->Tabs[0].Handheld->clear();
    Add(0, "5");
    Add(0, "5");
    EXPECT_THAT(Listed(0), ElementsAre("191", "005"));
    EXPECT_EQ(dialog->Tabs[0].Handheld->text(), "5");
    EXPECT_EQ(dialog->Tabs[0].List->currentRow(), 1);
    dialog->Tabs[0].Handheld->setText("1x"); // pasted
    QTest::mouseClick(dialog->Tabs[0].Add, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "“1x”不是有效的手持机号");

    Add(1, "7");
    EXPECT_EQ(LastMessage(), "请选择串口");
    ChoosePort(1, "COM2");
    QTest::mouseClick(dialog->Tabs[1].Add, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "请设置基站ID");
    EXPECT_TRUE(Listed(1).empty());
    EXPECT_EQ(messages.size(), 4u);
}

TEST_F(ParamDialogTest, DigitFieldsTakeDigitsAndBackspaceOnly) {
    Write(kSettings, "");
    Open();
    QLineEdit* id = dialog->Tabs[2].BaseId;
    QTest::keyClicks(id, "a1b2");
    EXPECT_EQ(id->text(), "12");
    QTest::keyClick(id, Qt::Key_Backspace);
    EXPECT_EQ(id->text(), "1");
    QTest::keyClicks(id, "2345");
    EXPECT_EQ(id->text(), "123");
}

TEST_F(ParamDialogTest, DeletingBySelectionDoubleClickAndAll) {
    Write(kSettings, "[基站1]\r\nPDA1=005\r\nPDA2=7\r\nPDA3=012\r\nPDA4=\r\nPDA5=005\r\n");
    Open();
    ASSERT_THAT(Listed(0), ElementsAre("005", "007", "012", "005"));
    QListWidget* list = dialog->Tabs[0].List;
    QTest::mouseClick(dialog->Tabs[0].DeleteSelected, Qt::LeftButton); // none selected
    EXPECT_EQ(list->count(), 4);
    list->setCurrentRow(1);
    QTest::mouseClick(dialog->Tabs[0].DeleteSelected, Qt::LeftButton);
    EXPECT_THAT(Listed(0), ElementsAre("005", "012", "005"));
    EXPECT_TRUE(list->selectedItems().isEmpty());
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    EXPECT_THAT(Listed(0), ElementsAre("005", "005"));
    QTest::mouseClick(dialog->Tabs[0].ClearAll, Qt::LeftButton);
    EXPECT_TRUE(Listed(0).empty());
}

TEST_F(ParamDialogTest, OpensAndSavesWithTheFilesRules) {
    Write(kSettings, "[基站1]\r\nPDA1=005\r\n[基站2]\r\nPDA1=031\r\n");
    Open();
    EXPECT_EQ(dialog->SpinEdit1->value(), 50);
    EXPECT_EQ(dialog->Tabs[0].Port->currentText(), "COM1");
    EXPECT_EQ(dialog->Tabs[0].BaseId->text(), "010");
    EXPECT_THAT(dialog->Tabs[0].Port->itemData(0, Qt::ToolTipRole).toString().toStdString(),
                HasSubstr("/dev/null"));
    QTest::keyClicks(dialog->Tabs[0].BaseId, "\b\b\b300");
    QTest::mouseClick(dialog->Tabs[1].ClearAll, Qt::LeftButton);
    dialog->Edit2->clear();
    QInputMethodEvent typed; // Chinese arrives from the input method as committed text
    typed.setCommitString(QString::fromUtf8("欢迎光临"));
    QApplication::sendEvent(dialog->Edit2, &typed);
    dialog->PickDirectory = [](const QString&) { return QString("/srv/menu"); };
    QTest::mouseClick(dialog->btn_Choose, Qt::LeftButton);
    QTest::mouseClick(dialog->btn_Save, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "参数设置完成");

    const std::string settings = ReadAll(dir.File(kSettingsFileName));
    for (const char* line : {"Delay=50\r\n", "jzdz1=12C\r\n", "COM1=COM1\r\n",
                             "Path=/srv/menu/\r\n", "WPath=/srv/menu/\r\n"}) {
        EXPECT_THAT(settings, HasSubstr(line));
    }
    EXPECT_THAT(settings, HasSubstr("teststr=" + text::ToGbk("欢迎光临") + "\r\n"));
    EXPECT_EQ(
        text::ToUtf8(ReadAll(dir.File(kRegistryFileName))),
        "[基站1]\r\nPDA1=005\r\n[基站2]\r\nPDA1=\r\n[基站3]\r\nPDA1=\r\n[基站4]\r\nPDA1=\r\n");
    Open();
    EXPECT_EQ(dialog->Tabs[0].BaseId->text(), "300");
}

TEST_F(ParamDialogTest, ABadStoredIdIsReportedAndTheRestKeepsItsDefaults) {
    Write("[Menu]\r\njzdz1=0A\r\njzdz2=XY\r\njzdz3=03\r\n", "[基站1]\r\nPDA1=005\r\n");
    Open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, 2000));
    EXPECT_THAT(LastMessage(), HasSubstr("基站2的基站ID“XY”不是有效的十六进制数"));
    EXPECT_EQ(dialog->Tabs[0].BaseId->text(), "010");
    EXPECT_EQ(dialog->Tabs[2].BaseId->text(), "");
    for (int tab = 0; tab < kStationCount; ++tab) {
        EXPECT_TRUE(Listed(tab).empty());
    }
    EXPECT_TRUE(dialog->isVisible());

    Write("[Menu]\r\njzdz1=0A\r\n",
          "[基站1]\r\nPDA1=005\r\nPDA2=x5\r\nPDA3=007\r\n[基站2]\r\nPDA1=9\r\n");
    Open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() == 2; }, 2000));
    EXPECT_THAT(LastMessage(), HasSubstr("“基站1”的手持机号“x5”不是有效的数字"));
    EXPECT_THAT(Listed(0), ElementsAre("005"));
    EXPECT_TRUE(Listed(1).empty());
}

TEST_F(ParamDialogTest, ASaveThatCannotBeDoneSaysWhyAndChangesNothing) {
    Write(kSettings, "[基站1]\r\nPDA1=005\r\n");
    const std::string settings = ReadAll(dir.File(kSettingsFileName));
    const std::string registry = ReadAll(dir.File(kRegistryFileName));
    Open();
    dialog->Tabs[0].BaseId->setText("1x"); // pasted
    QTest::mouseClick(dialog->btn_Save, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "基站1的基站ID“1x”不是数字，参数没有保存。");
    dialog->Tabs[0].BaseId->setText("10");
    dialog->Edit2->setText("测试 \U0001F600");
    QTest::mouseClick(dialog->btn_Save, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "通信测试提示中有GBK无法表示的字符，参数没有保存。");
    dialog->Edit2->setText("测试");
    QTest::mouseClick(dialog->Tabs[0].ClearAll, Qt::LeftButton);
    ASSERT_EQ(::chmod(dir.path.c_str(), 0555), 0);
    {
        testsupport::WithoutFileOverride asAnyUser;
        QTest::mouseClick(dialog->btn_Save, Qt::LeftButton);
    }
    ::chmod(dir.path.c_str(), 0755);
    EXPECT_THAT(LastMessage(), HasSubstr("参数没有保存，两个文件保持原样"));
    EXPECT_THAT(LastMessage(), HasSubstr("权限不够"));
    EXPECT_EQ(ReadAll(dir.File(kSettingsFileName)), settings);
    EXPECT_EQ(ReadAll(dir.File(kRegistryFileName)), registry);
}

TEST_F(ParamDialogTest, SavingTheExampleFilesUnchangedKeepsThem) {
    const std::string extra = "[Other]\r\n; kept as it is\r\nkey = value\r\n";
    const std::string settings = ReadAll(configtest::ExampleFile(kSettingsFileName)) + extra;
    text::WriteFileAtomic(dir.File(kSettingsFileName), settings);
    text::WriteFileAtomic(dir.File(kRegistryFileName),
                          ReadAll(configtest::ExampleFile(kRegistryFileName)));
    Open();
    QTest::mouseClick(dialog->btn_Save, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), "参数设置完成");
    EXPECT_EQ(ReadAll(dir.File(kSettingsFileName)), settings);
    Open();
    EXPECT_THAT(Listed(0), ElementsAre("005", "108"));
    for (int tab = 1; tab < kStationCount; ++tab) {
        EXPECT_TRUE(Listed(tab).empty());
    }
}

} // namespace

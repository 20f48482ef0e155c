// The main window offscreen, driven with clicks and keys: every command reaches its action, the
// enabling of the commands during a scan and a download, the work log's text area, the close
// rules, the tray icon and the download prompt.
#include "app/PumpWait.h"
#include "desktop/Icons.h"
#include "desktop/OpLog.h"
#include "desktop/TrayIcon.h"
#include "desktop/Unit1.h"
#include "desktop/xinxi.h"
#include "hostlink/HostSocket.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "support/Widgets.h"
#include "text/Gbk.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gmock/gmock.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::PumpUntil;

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The window with the two settings dialogs recorded instead of shown.
struct RecordingForm : desktop::TForm1 {
    void OpenParameterDialog(const std::string&) override { opened.push_back("parameters"); }
    void OpenBaseStationDialog(const std::vector<std::string>& names,
                               const app::BaseStationAccess&) override {
        std::string shown = "stations";
        for (const std::string& name : names) {
            shown += " " + text::ToUtf8(name);
        }
        opened.push_back(shown);
    }
    std::vector<std::string> opened;
};

struct MainWindow : testing::Test {
    void TearDown() override {
        form.reset();
        testsupport::ClearProgramEnd();
    }

    // A window on a fresh installation; base station 1 simulated unless told otherwise.
    void Open(bool station = true) {
        if (!inst) {
            inst = std::make_unique<testsupport::Instance>();
        }
        if (station) {
            sim = std::make_unique<BaseSim>(
                std::vector<std::string>{"--link", inst->Port("COM1"), "--stay"});
            ASSERT_TRUE(sim->Start()) << sim->Error();
        }
        form = std::make_unique<RecordingForm>();
        menu::DownloadPacing quick;
        quick.beforeCycle = quick.afterBlockZero = quick.afterPacket = 1ms;
        quick.beforeCycleRandom = 1;
        quick.stopWait = quick.readyWait = 50ms;
        controller =
            &form->CreateController(inst->Dir(), app::Markers{}, inst->RuntimeDir(), "", quick);
        controller->Create();
        if (station) {
            ASSERT_TRUE(PumpUntil([&] { return !controller->Scan().Scanning(); }, 5s));
        }
    }
    // Shown to the operator: with a notification area the window hides, offscreen (no
    // notification area) it minimises.
    bool Shown() const { return form->isVisible() && !form->isMinimized(); }
    QString Memo() {
        PumpUntil([] { return false; }, 250ms); // the text area's next batch
        return form->Memo1->toPlainText();
    }
    // Enabled: 参数设置, 基站设置, 连接基站, 开始下载, 停止下载.
    std::string Enabled() const {
        std::string e;
        for (bool on : {form->btn_ParamSet->isEnabled(), form->btn_BaseSet->isEnabled(),
                        form->btn_Conn2Router->isEnabled(), form->Button9->isEnabled(),
                        form->Button12->isEnabled()}) {
            e += on ? '1' : '0';
        }
        return e;
    }

    std::unique_ptr<testsupport::Instance> inst;
    std::unique_ptr<BaseSim> sim;
    std::unique_ptr<desktop::TForm1> form;
    app::MainController* controller = nullptr;
};

// The list as captions, a '*' after a logged-in handheld, '>' before the selected one.
QString List(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << (list->currentRow() == i ? ">" : "") + list->item(i)->text() +
                     (list->item(i)->data(Qt::UserRole).toInt() == 2 ? "*" : "");
    }
    return items.join(' ');
}

void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

TEST_F(MainWindow, CommandsReachTheirActionsAndTheDownloadDisablesTheCommandBar) {
    Open();
    EXPECT_EQ(Enabled(), "11111");
    controller->ClearLog();
    QTest::mouseClick(form->btn_Conn2Router, Qt::LeftButton);
    EXPECT_TRUE(PumpUntil([&] { return Enabled() == "10101"; }, 2s))
        << "a scan disables 基站设置 and 开始下载";
    EXPECT_TRUE(Memo().startsWith(U("搜索基站...")));
    ASSERT_TRUE(PumpUntil([&] { return Enabled() == "11111"; }, 5s)) << "until station 1 answers";

    EXPECT_FALSE(form->ProgressBar1->isTextVisible()) << "no download: the bar tells nothing";
    QTest::mouseClick(form->Button9, Qt::LeftButton);
    EXPECT_EQ(Enabled(), "00001") << "a download leaves only 停止下载";
    EXPECT_TRUE(sim->WaitForKind("start", 5s)) << "the start frame";
    // The bar counts blocks; its text counts the cycle's packets. The cycles run inside the
    // handling of the broadcast notice, so the page is read, and the download stopped, from a
    // timer that ticks in the cycles' waits.
    const QRegularExpression told("^已发送数据包 (\\d+) / (\\d+)，本次循环剩余约 \\d+ 秒$");
    QRegularExpressionMatch packets;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        packets = told.match(form->ProgressBar1->text());
        if (form->ProgressBar1->isTextVisible() && packets.captured(1).toInt() >= 2) {
            reader.stop();
            form->Button12->click();
        }
    });
    reader.start(5);
    ASSERT_TRUE(PumpUntil([&] { return !reader.isActive() && Enabled() == "11111"; }, 10s))
        << form->ProgressBar1->text().toStdString();
    EXPECT_EQ(form->ProgressBar1->maximum(), 12288);
    EXPECT_LE(packets.captured(1).toInt(), packets.captured(2).toInt());
    EXPECT_LT(packets.captured(2).toInt(), 12288) << "only the blocks that carry data are sent";
    EXPECT_TRUE(form->Label7->text().isEmpty());
    EXPECT_FALSE(form->ProgressBar1->isTextVisible()) << "stopped: nothing told";

    QTest::mouseClick(form->Button11, Qt::LeftButton);
    EXPECT_EQ(controller->Log().LineCount(), 0u);
    EXPECT_EQ(Memo(), "");
}

TEST_F(MainWindow, SettingsButtonsRunTheirSequences) {
    Open();
    auto& opened = static_cast<RecordingForm&>(*form).opened;
    QTest::mouseClick(form->btn_BaseSet, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "stations 基站1 基站2 基站3 基站4");

    inst->WriteRegistry({{"007"}, {}, {}, {}, {"009"}});
    QTest::mouseClick(form->btn_BaseSet, Qt::LeftButton);
    EXPECT_EQ(form->TreeView1->topLevelItem(0)->child(0)->text(0), "005") << "nothing reloaded";
    QTest::mouseClick(form->btn_ParamSet, Qt::LeftButton);
    EXPECT_EQ(opened.at(2), "parameters");
    EXPECT_EQ(form->TreeView1->topLevelItem(0)->child(0)->text(0), "007") << "reloaded";
    EXPECT_EQ(form->ComboBox1->count(), 5);
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1) << "a fifth section: no choice";
    EXPECT_EQ(form->ListView1->count(), 0);
    EXPECT_TRUE(PumpUntil([&] { return Enabled() == "10101"; }, 2s)) << "and scans again";
    ASSERT_TRUE(PumpUntil([&] { return Enabled() == "11111"; }, 5s));
    QTest::mouseClick(form->btn_BaseSet, Qt::LeftButton);
    EXPECT_EQ(opened.at(3), "stations 基站1 基站2 基站3 基站4 基站5");
}

TEST_F(MainWindow, HandheldViewFollowsSelectorTreeAndLogIn) {
    testsupport::InstanceSettings s;
    s.ids = {"02", "03", "04", ""};
    inst = std::make_unique<testsupport::Instance>(s);
    inst->WriteRegistry({{"005", "007"}, {}, {"031", "032"}});
    Open();
    form->show();
    QTreeWidget* tree = form->TreeView1;
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0) + tree->topLevelItem(2)->text(0), U("基站1基站3"));
    EXPECT_EQ(tree->topLevelItem(0)->child(1)->text(0), "007");
    EXPECT_TRUE(tree->topLevelItem(0)->icon(0).isNull()) << "stations carry no icon";
    EXPECT_EQ(form->ComboBox1->currentText(), U("基站1"));
    EXPECT_EQ(List(form->ListView1), "005 007");
    EXPECT_EQ(form->Label8->text(), "01");

    form->ComboBox1->setFocus();
    QTest::keyClick(form->ComboBox1, Qt::Key_Down);
    QTest::keyClick(form->ComboBox1, Qt::Key_Down);
    EXPECT_EQ(List(form->ListView1), "031 032");

    ClickItem(tree, tree->topLevelItem(1));
    EXPECT_EQ(form->ComboBox1->currentText(), U("基站2"));
    EXPECT_EQ(List(form->ListView1), "") << "a station without handhelds";

    ClickItem(tree, tree->topLevelItem(0)->child(1));
    EXPECT_EQ(form->ComboBox1->currentText(), U("基站1"));
    EXPECT_EQ(List(form->ListView1), "005 >007") << "a handheld under another station";
    EXPECT_EQ(form->Label8->text(), "01");

    sim->Send("req 5 DL CNS0090008000 999     ");
    auto loggedIn = [&] {
        return tree->topLevelItem(0)->child(0)->icon(0).cacheKey() ==
               desktop::HandheldStateIcon(2).cacheKey();
    };
    ASSERT_TRUE(PumpUntil(loggedIn, 5s)) << "the tree's icon turns at once";
    EXPECT_EQ(List(form->ListView1), "005* >007") << "and the list's, the selection kept";
    EXPECT_EQ(form->ListView1->item(0)->icon().cacheKey(),
              desktop::HandheldStateIcon(2).cacheKey());
    ClickItem(tree, tree->topLevelItem(0));
    EXPECT_EQ(List(form->ListView1), "005* 007");

    // "查看工作日志": nothing without a selected handheld, else the viewer (no records are kept).
    int viewers = 0;
    int rows = 0;
    testsupport::OnNextModal([&](QDialog* d) {
        ++viewers;
        rows = static_cast<desktop::Tfrm_OpLog*>(d)->StringGrid1->rowCount();
        d->accept();
    });
    QAction* view = form->PopupMenu2->actions().at(0);
    EXPECT_EQ(view->text(), U("查看工作日志"));
    view->trigger();
    EXPECT_EQ(viewers, 0);
    QListWidget* list = form->ListView1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(List(list), "005* >007");
    view->trigger();
    EXPECT_EQ(viewers, 1);
    EXPECT_EQ(rows, 0) << "007 sent nothing: no rows, not an empty one";
}

TEST_F(MainWindow, TheLogsTextAreaTakesTypingButNoLineBreakAndStaysBounded) {
    form = std::make_unique<desktop::TForm1>(); // no controller: only this log reaches the area
    WorkLog log;
    log.AddListener(form.get());
    log.Append(text::ToGbk("第一行"));
    EXPECT_EQ(Memo(), U("第一行"));
    form->Memo1->moveCursor(QTextCursor::End);
    QTest::keyClick(form->Memo1, Qt::Key_Return);
    QTest::keyClick(form->Memo1, Qt::Key_Enter);
    QTest::keyClicks(form->Memo1, "x");
    EXPECT_EQ(form->Memo1->toPlainText(), U("第一行x"));

    // Filled while hidden, the window shows again on the newest line.
    form->show();
    PumpUntil([] { return false; }, 50ms);
    form->hide();
    form->Memo1->moveCursor(QTextCursor::Start); // the operator clicked at the top
    for (int i = 0; i < 100; ++i) {
        log.Append(std::to_string(i));
    }
    Memo();
    form->show();
    PumpUntil([] { return false; }, 50ms);
    QScrollBar* bar = form->Memo1->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    for (std::size_t i = 0; i < WorkLog::kCapacity + 10; ++i) {
        log.Append(std::to_string(i));
    }
    Memo();
    EXPECT_EQ(static_cast<std::size_t>(form->Memo1->blockCount()), log.LineCount());
    EXPECT_EQ(form->Memo1->document()->firstBlock().text().toStdString(), log.Lines().front());
    EXPECT_EQ(form->Memo1->document()->lastBlock().text().toStdString(), log.Lines().back());
    log.RemoveListener(form.get());
}

TEST_F(MainWindow, CloseBoxAndStripHideWhileTheHostWindowExistsAndEndOnceItIsGone) {
    Open(false);
    hostlink::HostSocket hostWindow;
    ASSERT_EQ(hostWindow.Open(inst->RuntimeDir(), 777), "");
    controller->StartForHost("777");
    form->ShowMainWindow();
    ASSERT_TRUE(Shown());
    // The strip outside "清除".
    QTest::mouseClick(form->Panel3, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(PumpUntil([&] { return !Shown(); }, 2s));
    form->ShowMainWindow();
    form->close();
    EXPECT_TRUE(PumpUntil([&] { return !Shown(); }, 2s));
    EXPECT_FALSE(app::ProgramEnding());

    hostWindow.Close();
    form->ShowMainWindow();
    form->close();
    EXPECT_TRUE(PumpUntil([] { return app::ProgramEnding(); }, 2s)) << "the host is gone";
}

TEST_F(MainWindow, TrayDoubleClickAndMenuEntryShowTheWindowASingleClickDoesNot) {
    Open(false);
    QSystemTrayIcon& tray = form->TrayIcon1->PlatformIcon();
    EXPECT_TRUE(form->TrayIcon1->Active());
    EXPECT_TRUE(form->TrayIcon1->ToolTip().startsWith(U("无线点菜机管理：")));
    EXPECT_FALSE(form->TrayIcon1->StatusNotifier()) << "offscreen: no notification area";
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(Shown());
    emit tray.activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(Shown());
    form->HideMainWindow();
    ASSERT_EQ(form->PopupMenu1->actions().size(), 1);
    EXPECT_EQ(form->N1->text(), U("显示窗口"));
    form->N1->trigger();
    EXPECT_TRUE(Shown());
    form->TrayIcon1->EndSession(); // the desktop session ends: the program ends with it
    EXPECT_TRUE(app::ProgramEnding());
}

// The tip follows the stations answering, the host's presence and the requests waiting.
TEST_F(MainWindow, TheTraysTipNamesTheProgramAndTheRelaysState) {
    Open();
    auto tipIs = [&](const char* tip) {
        return PumpUntil([&] { return form->TrayIcon1->ToolTip() == U(tip); }, 3s);
    };
    EXPECT_TRUE(tipIs("无线点菜机管理：基站应答 1/1，主机未连接，待答请求 0"))
        << form->TrayIcon1->ToolTip().toStdString();
    hostlink::HostSocket hostWindow;
    ASSERT_EQ(hostWindow.Open(inst->RuntimeDir(), 777), "");
    controller->StartForHost("777");
    sim->Send("req 5 DL CNS0090008000 999     ");
    EXPECT_TRUE(tipIs("无线点菜机管理：基站应答 1/1，主机在线，待答请求 1"))
        << form->TrayIcon1->ToolTip().toStdString();
    hostWindow.Close();
    EXPECT_TRUE(tipIs("无线点菜机管理：基站应答 1/1，主机未连接，待答请求 1"))
        << form->TrayIcon1->ToolTip().toStdString();
}

TEST_F(MainWindow, ASecondReadyNoticeOpensASecondPromptOnTopOfTheFirst) {
    Open();
    QDialog* first = nullptr;
    QDialog* second = nullptr;
    QWidget* parent = nullptr;
    testsupport::OnNextModal([&](QDialog* d) {
        first = d;
        parent = d->parentWidget();
        testsupport::OnNextModal([&](QDialog* d2) {
            second = d2;
            static_cast<desktop::Tfrm_tishi*>(d2)->btn_Cancel->click();
            QTest::mouseClick(static_cast<desktop::Tfrm_tishi*>(first)->btn_Start, Qt::LeftButton);
        });
        sim->Send("ready");
    });
    sim->Send("ready");
    ASSERT_TRUE(PumpUntil([&] { return second != nullptr; }, 5s));
    EXPECT_NE(first, second);
    EXPECT_EQ(parent, form.get()) << "centred on the main window";
    EXPECT_TRUE(sim->WaitForKind("start", 5s)) << "开始 of the first prompt sends the start frame";
    EXPECT_FALSE(sim->WaitForKind("start", 300ms)) << "取消 of the second sends nothing";
}

} // namespace

// dcrelay-screenshots: PNGs of the main window on each of its three pages, of the two settings
// dialogs, of the operation record viewer and of the download prompt, drawn offscreen with the
// real fonts. The window runs
// with a registry of three base stations, base station 1 simulated (its channel shown), a
// handheld logged in, a download cycle running and the work log of all that.
//
//   dcrelay-screenshots [OUT_DIR]     (default: screenshots/)
#include "admin/Baseset.h"
#include "config/Pdaparamsset.h"
#include "desktop/DesktopApplication.h"
#include "desktop/OpLog.h"
#include "desktop/Unit1.h"
#include "desktop/xinxi.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "text/Gbk.h"
#include "text/Stations.h"

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

std::string outDir;
int failures = 0;

void Save(QWidget& widget, const std::string& name) {
    QCoreApplication::sendPostedEvents(); // pending layout changes first
    const std::string path = outDir + "/" + name;
    bool ok = widget.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    failures += ok ? 0 : 1;
}

// The user page with the detail tooltip of the selected handheld drawn where it shows.
void SaveListDetail(desktop::TForm1& window) {
    QListWidget* list = window.ListView1;
    const QPoint at = list->visualItemRect(list->item(1)).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &help);
    QCoreApplication::processEvents();
    QPixmap shot = window.grab();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->inherits("QTipLabel") && top->isVisible()) {
            QPainter painter(&shot);
            painter.drawPixmap(window.mapFromGlobal(top->pos()), top->grab());
        }
    }
    const std::string path = outDir + "/list-detail.png";
    const bool ok = shot.save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    failures += ok ? 0 : 1;
}

// The settings dialogs on this installation; the base-station dialog with base station 1 chosen
// (nothing is set, so its ports and waits are idle stand-ins).
void ShootSettings(desktop::TForm1& window, app::MainController& controller,
                   const std::string& programDir) {
    config::Tfrm_PDAParam parameters(programDir, &window);
    parameters.show();
    Save(parameters, "parameters.png");

    struct Idle : BasePorts, Waits {
        bool SendData(int, const std::string&) override { return false; }
        void Wait(unsigned, unsigned) override {}
        bool Ending() const override { return false; }
    } idle;
    std::array<std::string, kStationCount> channels = controller.Scan().ChannelText;
    admin::Tfrm_baseSet stations(controller.HandheldPage().ComboBox1, idle, idle,
                                 controller.Settings().BaseId, channels, &window);
    stations.ComboBox1->setCurrentIndex(0);
    emit stations.ComboBox1->activated(0);
    stations.show();
    Save(stations, "basestations.png");
}

// The download page and the two dialogs, from inside a running download cycle.
void ShootDownload(desktop::TForm1& window, app::MainController& controller) {
    window.PageControl1->setCurrentIndex(1);
    Save(window, "main-download.png");

    desktop::Tfrm_OpLog viewer(&window);
    for (const auto& record : app::RecordsOf(controller.Records().Records(), "02", "007")) {
        viewer.AddRecord(record);
    }
    viewer.show();
    Save(viewer, "oplog.png");
    desktop::Tfrm_tishi prompt(&window);
    prompt.show();
    Save(prompt, "prompt.png");
    controller.EndProgram();
}

} // namespace

int main(int argc, char** argv) {
    outDir = argc > 1 ? argv[1] : "screenshots";
    std::filesystem::create_directories(outDir);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    desktop::InstallChineseQtTexts(application);

    testsupport::InstanceSettings settings;
    settings.ports = {"COM1", "COM2", "", ""};
    settings.ids = {"02", "03", "04", ""};
    testsupport::Instance inst(settings);
    inst.WriteRegistry({{"005", "007", "012", "021", "108", "115"}, {}, {"031", "032"}});
    testsupport::BaseSim base(
        {"--link", inst.Port("COM1"), "--stay", "--channel", "12", "--notice-delay", "200"},
        testsupport::BaseSim::BuiltProgram("dcrelay-basesim"));
    if (!base.Start()) {
        std::fprintf(stderr, "dcrelay-screenshots: %s\n", base.Error().c_str());
        return 1;
    }
    desktop::TForm1 window(desktop::Dialogs::Unattended);
    app::MainController& controller =
        window.CreateController(inst.Dir(), app::Markers{}, inst.RuntimeDir(), "");
    controller.Create();
    controller.StartStandaloneDebug();
    window.show();
    testsupport::PumpUntil([&] { return !controller.Scan().Scanning(); }, 10s);

    base.Send("req 7 DL t=120000000000 CNS0090008000 999     ");
    testsupport::PumpUntil(
        [&] { return controller.HandheldPage().TreeView1[0].Children[1].State == 2; }, 5s);
    base.Send("req 7 0x4B x"); // a refused request: its answer is recorded and counted
    testsupport::PumpUntil([&] { return controller.Records().Records().size() >= 2; }, 5s);
    controller.SelectStation(0); // the list shows the log-in once refilled
    testsupport::PumpFor(300ms); // the log's last lines reach its text area

    window.PageControl1->setCurrentIndex(0);
    Save(window, "main-user.png");
    SaveListDetail(window);
    window.PageControl1->setCurrentIndex(2);
    Save(window, "main-log.png");
    ShootSettings(window, controller, inst.Dir());

    // A download cycle: the shots are taken from inside it, once packets are going out.
    QTimer::singleShot(7000, &window, [&] { ShootDownload(window, controller); });
    window.Button9->click();
    QCoreApplication::exec();
    return failures == 0 ? 0 : 1;
}

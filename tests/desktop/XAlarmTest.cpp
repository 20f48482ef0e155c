// The operator's alarm under a real X server with jwm's tray: when base station 1's port hangs
// up the tray icon turns into its warning variant (its tip and a tray message say why) and the
// window has a status line; the station back on its port brings the normal icon back. With
// DCRELAY_SHOTS_DIR set, the screens are saved there as PNG files to be looked at.
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::WaitUntil;

namespace {

// What a window shows now.
QImage Grab(const std::string& window) {
    return QGuiApplication::primaryScreen()->grabWindow(std::stoul(window)).toImage();
}

// The share of the image's pixels in the icon's body colour: red for the warning variant,
// blue for the normal icon.
double Share(const QImage& image, bool red) {
    int hits = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            hits += red ? c.red() > 180 && c.green() < 100 && c.blue() < 100
                        : c.blue() > 180 && c.red() < 100;
        }
    }
    return image.isNull() ? 0 : static_cast<double>(hits) / (image.width() * image.height());
}

void Save(const std::string& window, const std::string& name) {
    const char* dir = std::getenv("DCRELAY_SHOTS_DIR");
    if (dir != nullptr && *dir != '\0') {
        std::filesystem::create_directories(dir);
        Grab(window).save(QString::fromStdString(std::string(dir) + "/" + name));
    }
}

TEST(XAlarm, TheTrayAndTheWindowShowTheAlarmUntilItsCauseGoes) {
    testsupport::XSession x;
    ASSERT_TRUE(x.Start()) << x.Error();
    testsupport::Instance inst;
    const std::vector<std::string> stationArgs{"--link", inst.Port("COM1"), "--stay"};
    auto station = std::make_unique<BaseSim>(stationArgs);
    ASSERT_TRUE(station->Start()) << station->Error();
    BaseSim host{{"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim")};
    host.SetReadyEvent("started");
    ASSERT_TRUE(host.Start()) << host.Error();
    int argc = 1;
    char name[] = "test_xalarm";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv); // the test's own connection, for the screen grabs

    std::string icon, window;
    ASSERT_TRUE(WaitUntil([&] { return !(icon = x.TrayIconOf("dcrelay")).empty(); }, 10000));
    ASSERT_TRUE(
        WaitUntil([&] { return !(window = x.WindowNamed("无线点菜机管理")).empty(); }, 5000));
    const auto normal = [&] {
        const QImage shown = Grab(icon);
        return Share(shown, false) > 0.15 && Share(shown, true) < 0.02;
    };
    const auto alarmed = [&] {
        const QImage shown = Grab(icon);
        return Share(shown, true) > 0.15 && Share(shown, false) < 0.02;
    };
    EXPECT_TRUE(WaitUntil(normal, 5000)) << "the station answers: the normal icon";

    station.reset(); // its pseudo-terminal closes: base station 1 is out
    EXPECT_TRUE(WaitUntil(alarmed, 5000)) << "the warning icon";
    Save("0", "alarm-tray-message.png"); // the tray message stays up for a while
    x.Tool("xdotool mousemove --window " + icon + " 10 10");
    usleep(1500 * 1000);
    Save("0", "alarm-tray-tip.png");
    x.Click(icon, 8, 8, 1, 2);
    ASSERT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000));
    usleep(300 * 1000);
    Save(window, "alarm-window-line.png");

    station = std::make_unique<BaseSim>(stationArgs);
    ASSERT_TRUE(station->Start()) << station->Error();
    EXPECT_TRUE(WaitUntil(normal, 8000)) << "the port is back: the normal icon again";
    usleep(300 * 1000);
    Save(window, "alarm-window-normal.png");
    Save("0", "alarm-tray-normal.png");
    host.Send("close");
    EXPECT_TRUE(host.WaitForEvent("exit", 5s));
}

} // namespace

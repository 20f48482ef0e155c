// The process entry of dcrelay: program directory, marker files, single instance, run mode,
// then the main controller and the event loop, with the main window when there is a display
// and headless otherwise (DCRELAY_FACE=window or headless forces either).
#include "app/Face.h"
#include "app/HeadlessView.h"
#include "app/MainController.h"
#include "app/SignalWatch.h"
#include "app/Startup.h"
#include "desktop/DesktopApplication.h"
#include "desktop/Unit1.h"
#include "hostlink/HostSocket.h"
#include "hostlink/InstanceLock.h"
#include "hostlink/RuntimeDir.h"
#include "text/Gbk.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace {

std::unique_ptr<QCoreApplication> MakeApplication(app::Face face, int& argc, char** argv) {
    if (face == app::Face::Headless) {
        return std::make_unique<QCoreApplication>(argc, argv);
    }
    auto gui = std::make_unique<QApplication>(argc, argv);
    // The window hides instead of closing; only the controller ends the program.
    gui->setQuitOnLastWindowClosed(false);
    desktop::SetUpDesktopApplication(*gui);
    return gui;
}

struct Start {
    std::string programDir;
    app::Markers markers;
    app::RunMode mode;
    hostlink::RuntimeDirResult runtime;
};

// The run mode's steps with the given view; createController makes the controller that shows
// in it once the standalone-debug warning has been answered.
int Run(const Start& start, app::MainView& view, char** argv,
        const std::function<app::MainController&()>& createController) {
    app::MainController* running = nullptr;
    // main blocked the signals before any thread started; the watch receives them.
    app::SignalWatch shutdown([&running] {
        if (running != nullptr) {
            running->EndProgram();
        }
    });
    if (start.mode == app::RunMode::StandaloneDebug) {
        view.ShowMessage(text::Fixed("警告"),
                         text::Fixed("调试状态,该状态下无法与餐饮软件进行数据交互."));
    }
    app::MainController& controller = createController();
    running = &controller;
    controller.Create();
    if (start.mode == app::RunMode::StandaloneDebug) {
        controller.StartStandaloneDebug();
    } else {
        try {
            controller.StartForHost(argv[1]);
        } catch (const std::exception& e) {
            view.ShowError(e.what());
            return 1;
        }
    }
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    // Before Qt starts its threads (the display's event reader, the tray's bus), so that every
    // thread keeps SIGTERM and SIGINT blocked and the main thread alone receives them.
    app::SignalWatch::BlockSignals();
    Start start;
    start.programDir = app::ProgramDirectory(argc > 0 ? argv[0] : "");
    start.markers = app::ReadMarkers(start.programDir);

    // One instance per user: a second start ends silently, before it touches the display.
    start.runtime = hostlink::PrepareRuntimeDir();
    hostlink::InstanceLock lock;
    if (start.runtime.ok &&
        lock.TryAcquire(start.runtime.path) == hostlink::InstanceLock::Result::HeldByAnother) {
        return 0;
    }
    if (lock.Held()) {
        hostlink::RemoveDeadWindows(start.runtime.path); // sockets of relays that were killed
    }

    const app::FaceEnvironment environment = app::ProcessFaceEnvironment();
    app::FaceChoice face = app::ChooseFace(environment);
    if (!face.refusal.empty()) {
        std::fprintf(stderr, "dcrelay: %s\n", face.refusal.c_str());
    }
    if (face.unattended) {
        std::fprintf(stderr, "dcrelay: window face without a screen: message boxes and prompts "
                             "are answered on standard error\n");
    }
    if (!face.platforms.empty()) {
        qputenv("QT_QPA_PLATFORM", face.platforms.c_str());
    }
    std::unique_ptr<QCoreApplication> application = MakeApplication(face.face, argc, argv);
    if (app::FellBackWithoutScreen(face, QGuiApplication::platformName().toStdString())) {
        std::fprintf(stderr, "dcrelay: %s\n", app::NoScreenMessage(environment).c_str());
        face.face = app::Face::Headless;
    }
    // After the application took Qt's own arguments out of argc.
    start.mode = app::ChooseRunMode(start.markers, argc - 1);
    if (start.mode == app::RunMode::Neither) {
        return 0;
    }
    const std::string runtimeDir = start.runtime.ok ? start.runtime.path : "";
    const std::string refusal = start.runtime.ok ? "" : start.runtime.reason;

    if (face.face == app::Face::Window) {
        desktop::TForm1 window(face.unattended ? desktop::Dialogs::Unattended
                                               : desktop::Dialogs::Shown);
        return Run(start, window, argv, [&]() -> app::MainController& {
            app::MainController& controller =
                window.CreateController(start.programDir, start.markers, runtimeDir, refusal);
            QTimer::singleShot(0, &window, [&window] { window.FirstShowing(); });
            return controller;
        });
    }
    app::HeadlessView view;
    std::optional<app::MainController> controller;
    return Run(start, view, argv, [&]() -> app::MainController& {
        return controller.emplace(start.programDir, start.markers, view, runtimeDir, refusal);
    });
}

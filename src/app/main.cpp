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
#include "hostlink/HandOver.h"
#include "hostlink/HostSocket.h"
#include "hostlink/InstanceLock.h"
#include "hostlink/PrivateSocket.h"
#include "hostlink/RuntimeDir.h"
#include "text/Gbk.h"
#include "text/SystemReason.h"
#include "widgetkit/QtText.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

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
    std::string cannotRun; // why the relay cannot run (GBK), empty when it can
};

// A second start by a host passes the host's handle to the relay that runs (which takes it
// only when its own host is gone). Nothing else: it shows nothing and posts nothing to a host.
void HandOverToRunningRelay(const Start& start, int argc, char** argv) {
    if (app::ChooseRunMode(start.markers, argc - 1) != app::RunMode::StartedByHost) {
        return;
    }
    try {
        const unsigned handle = app::ParseHostHandle(argv[1]);
        if (handle != 0) {
            hostlink::SendPrivate(start.runtime.path, hostlink::kHandOverSocket,
                                  hostlink::HandOverMessage(handle));
        }
    } catch (const std::invalid_argument&) {
        // no handle to hand over
    }
}

// Without a usable runtime directory and instance lock every request would be lost and a
// second relay could start: the operator learns why and what to do, and the relay ends.
int RefuseToRun(const app::FaceChoice& face, const std::string& message) {
    if (face.face == app::Face::Window && !face.unattended) {
        QMessageBox box(QMessageBox::Critical, widgetkit::FromGbk(app::WindowCaption()),
                        widgetkit::FromGbk(message), QMessageBox::Ok);
        box.exec();
    } else {
        app::HeadlessView().ShowError(message);
    }
    return 1;
}

// The run mode's steps with the given view; createController makes the controller that shows
// in it once the standalone-debug warning has been answered.
int Run(const Start& start, app::MainView& view, char** argv,
        const std::function<app::MainController&()>& createController) {
    app::MainController* running = nullptr;
    bool endedBeforeStart = false;
    // main blocked the signals before any thread started; the watch receives them. Before the
    // controller exists (the standalone-debug warning is open) there is nothing to close: the
    // warning's loop ends and so does the program.
    app::SignalWatch shutdown([&running, &endedBeforeStart] {
        if (running != nullptr) {
            running->EndProgram();
            return;
        }
        endedBeforeStart = true;
        app::SetProgramEnding(true);
        QCoreApplication::exit(0);
    });
    if (start.mode == app::RunMode::StandaloneDebug) {
        view.ShowMessage(text::Fixed("警告"),
                         text::Fixed("调试状态,该状态下无法与餐饮软件进行数据交互."));
    }
    if (endedBeforeStart) {
        return 0;
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
    if (!start.runtime.ok) {
        start.cannotRun = hostlink::CannotRunMessage(start.runtime.reason, start.runtime.remedy);
    } else {
        switch (lock.TryAcquire(start.runtime.path)) {
        case hostlink::InstanceLock::Result::HeldByAnother:
            HandOverToRunningRelay(start, argc, argv);
            return 0;
        case hostlink::InstanceLock::Result::Failed:
            start.cannotRun = hostlink::CannotRunMessage(
                text::FileFailure("无法锁定单实例锁文件", lock.Path(), lock.Error()),
                text::Fixed("请删除该文件后重新启动"));
            break;
        case hostlink::InstanceLock::Result::Acquired:
            hostlink::RemoveDeadWindows(start.runtime.path); // sockets of relays that were killed
            break;
        }
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
    if (face.face == app::Face::Window) {
        const auto noBus = app::NoBusAutolaunch(std::getenv("DBUS_SESSION_BUS_ADDRESS"),
                                                std::getenv("XDG_RUNTIME_DIR"));
        if (noBus) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", noBus->c_str(), 1);
        }
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
    if (!start.cannotRun.empty()) {
        return RefuseToRun(face, start.cannotRun);
    }
    const std::string& runtimeDir = start.runtime.path;
    const std::string refusal;
    auto recordHost = [&lock](unsigned handle) { lock.RecordHost(handle); };

    if (face.face == app::Face::Window) {
        desktop::TForm1 window(face.unattended ? desktop::Dialogs::Unattended
                                               : desktop::Dialogs::Shown);
        return Run(start, window, argv, [&]() -> app::MainController& {
            app::MainController& controller =
                window.CreateController(start.programDir, start.markers, runtimeDir, refusal);
            controller.OnHostHandleChanged(recordHost);
            QTimer::singleShot(0, &window, [&window] { window.FirstShowing(); });
            return controller;
        });
    }
    app::HeadlessView view;
    std::optional<app::MainController> controller;
    return Run(start, view, argv, [&]() -> app::MainController& {
        controller.emplace(start.programDir, start.markers, view, runtimeDir, refusal);
        controller->OnHostHandleChanged(recordHost);
        return *controller;
    });
}

// The process entry of dcrelay: program directory, marker files, single instance, run mode,
// then the main controller and the event loop.
#include "app/HeadlessView.h"
#include "app/MainController.h"
#include "app/SignalWatch.h"
#include "app/Startup.h"
#include "hostlink/HostSocket.h"
#include "hostlink/InstanceLock.h"
#include "hostlink/RuntimeDir.h"
#include "text/Gbk.h"

#include <QCoreApplication>
#include <exception>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const std::string programDir = app::ProgramDirectory(argc > 0 ? argv[0] : "");
    const app::Markers markers = app::ReadMarkers(programDir);

    // One instance per user: a second start ends silently.
    hostlink::RuntimeDirResult runtime = hostlink::PrepareRuntimeDir();
    hostlink::InstanceLock lock;
    if (runtime.ok &&
        lock.TryAcquire(runtime.path) == hostlink::InstanceLock::Result::HeldByAnother) {
        return 0;
    }
    if (lock.Held()) {
        hostlink::RemoveDeadWindows(runtime.path); // sockets of relays that were killed
    }

    const app::RunMode mode = app::ChooseRunMode(markers, argc - 1);
    if (mode == app::RunMode::Neither) {
        return 0;
    }
    // Before any thread starts, so that every thread keeps the signals blocked.
    app::MainController* running = nullptr;
    app::SignalWatch shutdown([&running] {
        if (running != nullptr) {
            running->EndProgram();
        }
    });
    app::HeadlessView view;
    if (mode == app::RunMode::StandaloneDebug) {
        view.ShowMessage(text::Fixed("警告"),
                         text::Fixed("调试状态,该状态下无法与餐饮软件进行数据交互."));
    }
    app::MainController controller(programDir, markers, view, runtime.ok ? runtime.path : "",
                                   runtime.ok ? "" : runtime.reason);
    running = &controller;
    controller.Create();
    if (mode == app::RunMode::StandaloneDebug) {
        controller.StartStandaloneDebug();
    } else {
        try {
            controller.StartForHost(argv[1]);
        } catch (const std::exception& e) {
            view.ShowError(e.what());
            return 1;
        }
    }
    int status = QCoreApplication::exec();
    return status;
}

// bench-silent-station [REQUESTS]: base station 1 does not answer, so the scan goes on closing
// and opening every port; base station 2 works, and its handhelds send REQUESTS (default 200)
// requests, 150 to 249 ms apart, at moments of their own. Each is refused (the handheld is not
// registered) and so answered at once. Prints how many were answered; those lost are the ones
// that reached station 2's port in the moments the scan had it closed.
#include "app/HeadlessView.h"
#include "app/MainController.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    testsupport::EnsureCoreApplication();
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    testsupport::InstanceSettings settings;
    settings.ports = {"COM1", "COM2", "", ""};
    settings.ids = {"02", "03", "", ""};
    testsupport::Instance inst(settings);
    const std::string script = inst.Dir() + "requests.txt";
    std::ofstream(script) << [&] {
        std::string lines = "wait 2000\n";
        for (int i = 0; i < count; ++i) {
            lines += "req 99 KT n" + std::to_string(i) + "\nwait " +
                     std::to_string(150 + (i * 37) % 100) + "\n";
        }
        return lines;
    }();
    testsupport::BaseSim silent({"--link", inst.Port("COM1"), "--stay", "--no-answer"});
    testsupport::BaseSim working(
        {"--link", inst.Port("COM2"), "--stay", "--id", "03", "--script", script});
    if (!silent.Start() || !working.Start()) {
        std::printf("no simulator: %s%s\n", silent.Error().c_str(), working.Error().c_str());
        return 1;
    }
    app::HeadlessView view;
    app::MainController controller(inst.Dir(), app::Markers{}, view, inst.RuntimeDir(), "");
    controller.Create();
    int sent = 0, answered = 0;
    const auto end = std::chrono::steady_clock::now() + 2s + count * 200ms + 2s;
    // The simulators' lines are read as they come: a simulator stops once its output is full.
    testsupport::PumpUntil(
        [&] {
            while (auto line = working.Next(0ms)) {
                sent += line->Event() == "sent" && line->Str("what") == "request";
                answered += line->Kind() == "reply";
            }
            while (silent.Next(0ms)) {
            }
            return std::chrono::steady_clock::now() >= end;
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                              std::chrono::steady_clock::now()) +
            1s);
    std::printf("station 1 silent, %d requests sent through station 2: %d answered, %d lost "
                "(%.1f%%)\n",
                sent, answered, sent - answered, sent > 0 ? 100.0 * (sent - answered) / sent : 0.0);
    return 0;
}

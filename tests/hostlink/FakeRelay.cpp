// A stand-in for the relay, for the host simulator's tests: announces itself to the host given
// as argument 1, writes one request file into the exchange directory (argument 2), notifies the
// host and records the messages it receives in fake.log.
//   mode "reply": copies R1.TXT to fake-got.txt at the first reply-ready message, exits 3
//   mode "until-close": exits 4 at the first closing message (13 or 16)
// Exits 9 when nothing ends it within 10 s.
#include "hostlink/HostSocket.h"
#include "hostlink/RuntimeDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <chrono>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: fake_relay HANDLE EXCHANGE_DIR reply|until-close\n");
        return 2;
    }
    unsigned host = static_cast<unsigned>(std::stoul(argv[1]));
    std::string exchange = std::string(argv[2]) + "/";
    std::string mode = argv[3];

    auto dir = hostlink::PrepareRuntimeDir();
    hostlink::HostSocket socket;
    if (!dir.ok || !socket.Open(dir.path, static_cast<unsigned>(::getpid())).empty()) {
        return 8;
    }
    const unsigned own = socket.Handle();
    socket.Post(host, {own, static_cast<std::int32_t>(own)});
    text::WriteFileAtomic(exchange + "T1.txt",
                          "DL   005\r\n0000000005 " + text::ToGbk("张三") + " 12345678 \r\n");
    socket.Post(host, {1, 1});

    std::string log;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{socket.Fd(), POLLIN, 0};
        ::poll(&fd, 1, 50);
        while (auto m = socket.Receive()) {
            log += std::to_string(m->first) + " " + std::to_string(m->second) + "\n";
            text::WriteFileAtomic(exchange + "fake.log", log);
            bool closing = m->second == 13 || m->second == 16;
            if (mode == "reply" && !closing && m->second > 0) {
                auto reply = text::ReadFile(exchange + "R1.TXT");
                text::WriteFileAtomic(exchange + "fake-got.txt", reply.value_or("(none)"));
                return 3;
            }
            if (mode == "until-close" && closing) {
                return 4;
            }
        }
    }
    return 9;
}

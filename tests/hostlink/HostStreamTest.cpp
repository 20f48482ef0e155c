// Stream hosts: the relay's endpoint connected to a listening stream window, with the test
// writing the host's bytes as a host program would, in whatever pieces it likes.
#include "HostlinkTestSupport.h"
#include "app/PumpWait.h"
#include "hostlink/HostEndpoint.h"
#include "hostlink/SocketAddress_unix.h"
#include "support/EventPump.h"
#include "support/Leftovers.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;
using namespace std::chrono_literals;

namespace {

constexpr unsigned kRelay = 300;
constexpr unsigned kHost = 500;

std::string Bytes(const HostMessage& m) {
    const Datagram d = EncodeMessage(m);
    return std::string(d.begin(), d.end());
}

bool WriteRaw(const HostStream& s, const std::string& bytes) {
    return ::send(s.Fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// The next message on `s` within a second.
std::optional<HostMessage> NextMessage(HostStream& s) {
    std::optional<HostMessage> got;
    testsupport::PumpUntil(
        [&] {
            HostMessage m;
            int error = 0;
            if (!got && s.ReadSome(m, error) == HostStream::Read::Message) {
                got = m;
            }
            return got.has_value();
        },
        1s);
    return got;
}

// A forked child that runs `body` as the user nobody; its exit status.
int AsNobody(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(90);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

class HostStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureCoreApplication();
        std::string reason;
        ASSERT_TRUE(endpoint.Open(rt.path, kRelay, reason)) << reason;
        QObject::connect(&endpoint, &HostEndpoint::StreamEnded,
                         [this](const std::string& line) { ended.push_back(text::ToUtf8(line)); });
    }
    // The host binds its stream window and takes the relay's connection.
    void Connect() {
        ASSERT_EQ(window.Open(rt.path, kHost), "");
        std::string reason;
        ASSERT_TRUE(endpoint.ConnectStreamHost(kHost, reason)) << text::ToUtf8(reason);
        ASSERT_TRUE(window.Accept(host));
    }

    TempRuntime rt;
    HostEndpoint endpoint;
    StreamWindow window;
    HostStream host;
    std::vector<std::string> ended;
};

} // namespace

// A stream carries no boundaries: a message split across writes arrives once it is whole,
// messages sharing one write arrive one at a time, in order, each once (also inside a wait of
// the receiver), and one with another message number is skipped without losing the framing.
TEST_F(HostStreamTest, MessagesAreTwelveBytesWhateverPiecesTheyComeIn) {
    Connect();
    std::vector<std::string> events;
    QObject::connect(&endpoint, &HostEndpoint::MessageReceived, [&](quint32 first, qint32 code) {
        events.push_back("begin " + std::to_string(first) + "," + std::to_string(code));
        if (code == 1) {
            app::PumpWait(0, 40);
        }
        events.push_back("end " + std::to_string(code));
    });
    const std::string a = Bytes({kHost, 1});
    std::string otherNumber = Bytes({9, 9});
    otherNumber[1] = 0x06; // 0x600
    ASSERT_TRUE(WriteRaw(host, a.substr(0, 5)));
    testsupport::PumpFor(50ms);
    EXPECT_TRUE(events.empty()) << "five bytes are no message";
    ASSERT_TRUE(WriteRaw(host, a.substr(5) + Bytes({7, 2}) + otherNumber + Bytes({8, 3}) +
                                   std::string("\x00\x05", 2)));
    ASSERT_TRUE(testsupport::PumpUntil([&] { return events.size() == 6; }, 2s));
    testsupport::PumpFor(30ms);
    const std::vector<std::string> expected = {"begin 500,1", "begin 7,2", "end 2",
                                               "begin 8,3",   "end 3",     "end 1"};
    EXPECT_EQ(events, expected);

    // The relay's posts to the host travel on the connection, each 12 bytes.
    endpoint.Post(kHost, 1, 1);
    endpoint.Post(kHost, 1, 1);
    for (int i = 0; i < 2; ++i) {
        auto m = NextMessage(host);
        ASSERT_TRUE(m) << i;
        EXPECT_EQ(m->first, 1u);
        EXPECT_EQ(m->second, 1);
    }
    EXPECT_TRUE(ended.empty());
}

// While the connection is open the host window exists; its end is the host gone, at once,
// with one work-log line and no message (a begun message is dropped). Later posts are lost.
TEST_F(HostStreamTest, TheConnectionsEndIsTheHostGone) {
    Connect();
    int delivered = 0;
    QObject::connect(&endpoint, &HostEndpoint::MessageReceived, [&] { ++delivered; });
    EXPECT_TRUE(endpoint.WindowExists(kHost));
    ASSERT_TRUE(WriteRaw(host, Bytes({kHost, 13}).substr(0, 6)));
    host.Close();
    EXPECT_FALSE(endpoint.WindowExists(kHost)) << "gone before the end is read";
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !ended.empty(); }, 2s));
    EXPECT_EQ(ended,
              std::vector<std::string>{"主程序消息端点[" + rt.path + "/win-500]的连接已断开"});
    EXPECT_EQ(delivered, 0);
    EXPECT_FALSE(endpoint.WindowExists(kHost));

    endpoint.Post(kHost, 1, 1);
    HostStream again;
    EXPECT_FALSE(window.Accept(again)) << "a post after the end makes no new connection";
    testsupport::PumpFor(20ms);
    EXPECT_EQ(ended.size(), 1u);
}

// A datagram window needs no connection, and a listener of another user is refused: the
// relay closes the connection at once, before writing anything on it.
TEST_F(HostStreamTest, OnlyStreamWindowsOfTheOwnUserAreConnected) {
    HostSocket datagramHost;
    ASSERT_EQ(datagramHost.Open(rt.path, 501), "");
    std::string reason;
    EXPECT_TRUE(endpoint.ConnectStreamHost(501, reason));
    endpoint.Post(501, 1, 1);
    EXPECT_TRUE(datagramHost.Receive()) << "a datagram host is posted to as before";

    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to listen as another user";
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Bound while still allowed into the private directory; listening as nobody, so that
        // the connecting side sees nobody as its peer.
        ::close(ready[0]);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        MakeAddress(WindowPath(rt.path, 502), addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(fd, 1) != 0) {
            ::_exit(1);
        }
        if (::write(ready[1], "r", 1) != 1) {
            ::_exit(3);
        }
        const int conn = ::accept(fd, nullptr, nullptr);
        char byte;
        ::_exit(conn >= 0 && ::read(conn, &byte, 1) == 0 ? 0 : 2); // the end, no byte
    }
    ::close(ready[1]);
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    EXPECT_FALSE(endpoint.ConnectStreamHost(502, reason));
    EXPECT_EQ(text::ToUtf8(reason),
              "主程序消息端点[" + rt.path + "/win-502]属于其他用户,不与其通信");
    EXPECT_FALSE(endpoint.WindowExists(502));
    endpoint.Post(502, 1, 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the foreign host read bytes";
}

// The host's end refuses a connection from another user, takes one of its own, and replaces a
// window file that nobody listens on any more while a live window keeps its name.
TEST_F(HostStreamTest, StreamWindowTakesOwnUsersConnectionsOnly) {
    ASSERT_TRUE(testsupport::LeaveStaleSocket(WindowPath(rt.path, kHost)));
    ASSERT_EQ(window.Open(rt.path, kHost), "");
    StreamWindow rival;
    EXPECT_NE(rival.Open(rt.path, kHost), "");
    EXPECT_TRUE(WindowIsStream(rt.path, kHost));

    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(rt.path.c_str(), 0711), 0);
        ASSERT_EQ(::chmod(WindowPath(rt.path, kHost).c_str(), 0777), 0);
        const int foreign = AsNobody([&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            MakeAddress(WindowPath(rt.path, kHost), addr);
            return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : 1;
        });
        ::chmod(rt.path.c_str(), 0700);
        EXPECT_EQ(foreign, 0) << "the foreign client could not connect";
        EXPECT_FALSE(window.Accept(host)) << "another user's connection";
    }
    HostStream relay;
    ASSERT_EQ(relay.Connect(rt.path, kHost), 0);
    ASSERT_TRUE(window.Accept(host));
    ASSERT_TRUE(relay.Write({1, 1}));
    EXPECT_TRUE(NextMessage(host));

    window.Close();
    struct stat st {};
    EXPECT_NE(::lstat(WindowPath(rt.path, kHost).c_str(), &st), 0) << "socket file removed";
}

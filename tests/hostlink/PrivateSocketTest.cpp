#include "hostlink/PrivateSocket.h"
#include "HostlinkTestSupport.h"
#include "hostlink/HandOver.h"
#include "text/Files.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostlink;
using namespace std::chrono_literals;
using hostlink_test::TempRuntime;

TEST(PrivateSocket, MessagesAndAnswersBetweenProcessesOfOneUser) {
    TempRuntime rt;
    PrivateSocket socket;
    EXPECT_EQ(socket.Open(rt.path, "win-5"), EINVAL) << "a host window's name is never taken";
    ASSERT_EQ(socket.Open(rt.path, "relay-test"), 0);

    ASSERT_TRUE(SendPrivate(rt.path, "relay-test", "handover 5"));
    auto told = socket.Receive();
    ASSERT_TRUE(told);
    EXPECT_EQ(told->text, "handover 5");
    EXPECT_FALSE(socket.Answer(*told, "x")) << "a plain sender cannot be answered";
    EXPECT_FALSE(socket.Receive());

    const pid_t child = ::fork();
    if (child == 0) {
        auto answer = AskPrivate(rt.path, "relay-test", "ping", 5s);
        ::_exit(answer == std::optional<std::string>("pong") ? 0 : 1);
    }
    ASSERT_TRUE(WaitReadable(socket.Fd(), 5000));
    auto asked = socket.Receive();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->text, "ping");
    EXPECT_TRUE(socket.Answer(*asked, "pong"));
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the asker got no answer";

    socket.Close();
    EXPECT_FALSE(text::FileExists(PrivatePath(rt.path, "relay-test")));
    EXPECT_FALSE(SendPrivate(rt.path, "relay-test", "handover 5")) << "nobody receives";
}

TEST(PrivateSocket, AMessageFromAnotherUserIsDropped) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to send as another user";
    }
    TempRuntime rt;
    PrivateSocket socket;
    ASSERT_EQ(socket.Open(rt.path, "relay-test"), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Connected while still allowed into the private directory, then nobody sends.
        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{AF_UNIX, {}};
        const std::string path = PrivatePath(rt.path, "relay-test");
        std::memcpy(addr.sun_path, path.data(), path.size());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        ::_exit(::send(fd, "handover 9", 10, 0) == 10 ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the foreign sender failed";
    ASSERT_TRUE(SendPrivate(rt.path, "relay-test", "handover 7"));
    auto m = socket.Receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "handover 7") << "the foreign message must have been dropped";
    EXPECT_FALSE(socket.Receive());
}

TEST(HandOver, OnlyAHandoverWithADecimalHandleIsRead) {
    EXPECT_EQ(ParseHandOver(HandOverMessage(5)), 5u);
    EXPECT_EQ(ParseHandOver(HandOverMessage(4294967295u)), 4294967295u);
    for (const char* bad : {"handover", "handover ", "handover -1", "handover +5", "handover 5 ",
                            "handover 4294967296", "status", " handover 5"}) {
        EXPECT_FALSE(ParseHandOver(bad)) << bad;
    }
}

// The relay's private stream socket on the event loop (the status socket): one question, one
// whole answer however long, a question cut at its limit from a peer that writes on and on,
// and no answer to a peer of another user.
#include "hostlink/PrivateStream.h"
#include "HostlinkTestSupport.h"
#include "hostlink/PrivateSocket.h"
#include "hostlink/PrivateStreamEndpoint.h"
#include "support/EventPump.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace hostlink;
using namespace std::chrono_literals;
using hostlink_test::TempRuntime;

namespace {

struct Served {
    std::vector<std::string> questions;
    PrivateStreamEndpoint endpoint{[this](const std::string& q) {
        questions.push_back(q);
        return q == "long" ? std::string(300000, 'a') : "answer to " + q;
    }};
};

// Asks on another thread while this one runs the event loop.
PrivateAnswer Ask(const std::string& runtime, const std::string& question) {
    PrivateAnswer answer;
    std::atomic<bool> done{false};
    std::thread asker([&] {
        answer = AskPrivateStream(runtime, kStatusSocket, question, 5s);
        done = true;
    });
    testsupport::PumpUntil([&] { return done.load(); }, 6s);
    asker.join();
    return answer;
}

} // namespace

TEST(PrivateStream, OneQuestionOneWholeAnswer) {
    testsupport::EnsureCoreApplication();
    TempRuntime rt;
    Served s;
    std::string reason;
    EXPECT_FALSE(s.endpoint.Open(rt.path, "win-7", reason)) << "never a host window's name";
    ASSERT_TRUE(s.endpoint.Open(rt.path, kStatusSocket, reason)) << reason;
    EXPECT_EQ(AskPrivateStream(rt.path, "relay-none", "x", 1s).kind,
              PrivateAnswer::Kind::NoListener);

    PrivateAnswer a = Ask(rt.path, "status");
    EXPECT_EQ(a.kind, PrivateAnswer::Kind::Answered);
    EXPECT_EQ(a.text, "answer to status");
    a = Ask(rt.path, "long");
    EXPECT_EQ(a.text.size(), 300000u) << "more than a socket buffer holds, written as it drains";
    EXPECT_TRUE(testsupport::PumpUntil([&] { return s.endpoint.Connections() == 0; }, 2s));

    s.endpoint.Close();
    struct stat st {};
    EXPECT_NE(::lstat(PrivatePath(rt.path, kStatusSocket).c_str(), &st), 0);
}

TEST(PrivateStream, AQuestionLongerThanTheLimitIsCutThereAndAnswered) {
    testsupport::EnsureCoreApplication();
    TempRuntime rt;
    Served s;
    std::string reason;
    ASSERT_TRUE(s.endpoint.Open(rt.path, kStatusSocket, reason)) << reason;
    std::atomic<bool> answered{false};
    std::thread flooder([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{AF_UNIX, {}};
        const std::string path = PrivatePath(rt.path, kStatusSocket);
        std::memcpy(addr.sun_path, path.data(), path.size());
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const std::string block(4096, 'x');
        for (int i = 0; i < 256 && ::send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0;) {
            ++i;
        }
        char c;
        answered = ::recv(fd, &c, 1, 0) == 1;
        ::close(fd);
    });
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !s.questions.empty(); }, 5s));
    testsupport::PumpUntil([&] { return answered.load(); }, 5s);
    flooder.join();
    ASSERT_EQ(s.questions.size(), 1u);
    EXPECT_EQ(s.questions[0].size(), PrivateStreamEndpoint::kMaxQuestion);
    EXPECT_TRUE(answered);
}

TEST(PrivateStream, APeerOfAnotherUserGetsNoAnswer) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to ask as another user";
    }
    testsupport::EnsureCoreApplication();
    TempRuntime rt;
    Served s;
    std::string reason;
    ASSERT_TRUE(s.endpoint.Open(rt.path, kStatusSocket, reason)) << reason;
    const std::string path = PrivatePath(rt.path, kStatusSocket);
    ::chmod(rt.path.c_str(), 0755); // let the other user reach the socket at all
    ::chmod(path.c_str(), 0777);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{AF_UNIX, {}};
        std::memcpy(addr.sun_path, path.data(), path.size());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::_exit(2);
        }
        ::send(fd, "status\n", 7, MSG_NOSIGNAL);
        char c;
        ::_exit(::recv(fd, &c, 1, 0) <= 0 ? 0 : 3); // closed without a byte
    }
    int status = -1;
    testsupport::PumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5s);
    ::chmod(rt.path.c_str(), 0700);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(s.questions.empty());
}

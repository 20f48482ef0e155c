#include "hostlink/HostSocket.h"
#include "HostlinkTestSupport.h"
#include "support/Leftovers.h"
#include "text/Files.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;

namespace {

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return addr;
}

// Sends raw bytes to a window, as a foreign or faulty sender would.
void SendRaw(const std::string& path, const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = Address(path);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(fd);
}

std::string Bytes(const Datagram& d) {
    return std::string(d.begin(), d.end());
}

} // namespace

TEST(HostMessage, TwelveLittleEndianBytes) {
    Datagram d = EncodeMessage({0x01020304u, -2});
    const unsigned char expected[] = {0x00, 0x05, 0x00, 0x00, 0x04, 0x03,
                                      0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(d.data(), expected, sizeof expected));
    auto back = DecodeMessage(d.data(), d.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->first, 0x01020304u);
    EXPECT_EQ(back->second, -2);
}

TEST(HostSocket, DatagramsOfAnotherSizeOrNumberAreIgnored) {
    TempRuntime rt;
    HostSocket endpoint;
    ASSERT_EQ(endpoint.Open(rt.path, 100), "");
    const std::string path = WindowPath(rt.path, 100);
    std::string valid = Bytes(EncodeMessage({7, 42}));
    std::string otherNumber = valid;
    otherNumber[0] = 0x01; // 0x501
    SendRaw(path, valid.substr(0, 11));
    SendRaw(path, valid + "x");
    SendRaw(path, otherNumber);
    SendRaw(path, "");
    SendRaw(path, valid);
    auto m = endpoint.Receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->first, 7u);
    EXPECT_EQ(m->second, 42);
    EXPECT_FALSE(endpoint.Receive());
}

TEST(HostSocket, DatagramFromAnotherUserIsIgnored) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to send as another user";
    }
    TempRuntime rt;
    HostSocket endpoint;
    ASSERT_EQ(endpoint.Open(rt.path, 101), "");
    pid_t child = ::fork();
    if (child == 0) {
        // Connect while still allowed into the private directory, then become nobody and send.
        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr = Address(WindowPath(rt.path, 101));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(1);
        }
        Datagram d = EncodeMessage({1, 5});
        ::_exit(::send(fd, d.data(), d.size(), 0) == 12 ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the foreign sender failed";
    ASSERT_TRUE(PostMessage(rt.path, 101, {2, 6}));
    auto m = endpoint.Receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->second, 6) << "the foreign message must have been dropped";
    EXPECT_FALSE(endpoint.Receive());
}

TEST(HostSocket, PostToAVanishedWindowIsIgnored) {
    TempRuntime rt;
    HostSocket a;
    ASSERT_EQ(a.Open(rt.path, 1), "");
    EXPECT_FALSE(a.Post(2, {1, 1})) << "no window 2";
    {
        HostSocket b;
        ASSERT_EQ(b.Open(rt.path, 2), "");
        EXPECT_TRUE(a.Post(2, {1, 1}));
    }
    EXPECT_FALSE(a.Post(2, {1, 1})) << "window 2 has gone";
    EXPECT_FALSE(PostMessage(rt.path, 2, {1, 1}));
}

TEST(HostSocket, ExistsWhileBoundAndSocketFileRemovedOnClose) {
    TempRuntime rt;
    const std::string path = WindowPath(rt.path, 55);
    EXPECT_EQ(path, rt.path + "/win-55");
    EXPECT_FALSE(WindowExists(rt.path, 55));
    HostSocket s;
    ASSERT_EQ(s.Open(rt.path, 55), "");
    EXPECT_TRUE(WindowExists(rt.path, 55));
    HostSocket rival;
    EXPECT_NE(rival.Open(rt.path, 55), "") << "a live window keeps its name";
    EXPECT_TRUE(WindowExists(rt.path, 55)) << "the refused rival removed nothing";
    s.Close();
    struct stat st {};
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << "socket file removed";
    EXPECT_FALSE(WindowExists(rt.path, 55));
}

TEST(HostSocket, StaleSocketFileOfACrashedProcessIsNoWindowAndIsReplaced) {
    TempRuntime rt;
    const std::string path = WindowPath(rt.path, 56);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = Address(path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd); // the file stays, as after a crash
    EXPECT_FALSE(WindowExists(rt.path, 56));
    HostSocket s;
    ASSERT_EQ(s.Open(rt.path, 56), "");
    EXPECT_TRUE(PostMessage(rt.path, 56, {3, 3}));
    EXPECT_TRUE(s.Receive());
}

TEST(HostSocket, OnlyWindowsOfEndedProcessesAreRemoved) {
    TempRuntime rt;
    const unsigned dead = static_cast<unsigned>(testsupport::DeadPid());
    using testsupport::LeaveStaleSocket;
    ASSERT_TRUE(LeaveStaleSocket(WindowPath(rt.path, dead)));
    ASSERT_TRUE(LeaveStaleSocket(WindowPath(rt.path, static_cast<unsigned>(::getppid()))));
    ASSERT_TRUE(LeaveStaleSocket(rt.path + "/win-x" + std::to_string(dead)));
    text::WriteFileAtomic(WindowPath(rt.path, dead + 1000000), "not a socket");
    HostSocket live; // a host's window whose handle is no process id
    ASSERT_EQ(live.Open(rt.path, 4000000000u), "");

    EXPECT_EQ(RemoveDeadWindows(rt.path), 1);
    EXPECT_FALSE(text::FileExists(WindowPath(rt.path, dead)));
    EXPECT_TRUE(text::FileExists(WindowPath(rt.path, static_cast<unsigned>(::getppid()))));
    EXPECT_TRUE(text::FileExists(rt.path + "/win-x" + std::to_string(dead)));
    EXPECT_TRUE(text::FileExists(WindowPath(rt.path, dead + 1000000)));
    EXPECT_TRUE(WindowExists(rt.path, 4000000000u));
}

// A pseudo-terminal standing in for a serial device. The slave side is the device that the code
// under test opens (DevicePath, or a link kept at LinkAs); the master is the far end, which the
// test writes to and whose received bytes it reads. A thread keeps reading the far end, so the
// pty buffer (about 18 KiB) never fills however much the device sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <termios.h>
#include <thread>

namespace testsupport {

class PtyPair {
public:
    PtyPair(); // throws std::runtime_error when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The device path, e.g. /dev/pts/3; another one after ReopenFarEnd.
    std::string DevicePath() const;
    // Keeps a symbolic link at linkPath pointing at the device, also across ReopenFarEnd (as a
    // ports/COM3 link follows a USB adapter).
    void LinkAs(const std::string& linkPath);

    // Sends bytes to the device's reader, all of them.
    void Write(const std::string& bytes);

    // Bytes the device has sent to the far end so far.
    std::string Received() const;
    std::size_t ReceivedCount() const;
    // Waits until at least `count` bytes have arrived; false on time-out.
    bool WaitReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    void ClearReceived();

    // The device's current termios settings.
    termios DeviceSettings() const;

    // The device vanishes, as when a USB adapter is pulled: openers see a hang-up.
    void CloseFarEnd();
    // A new device appears; the link (if any) points at it.
    void ReopenFarEnd();

private:
    void Open();
    void Drain();
    void StopDrain();
    void UpdateLink();

    int master_ = -1;
    int slave_ = -1; // held so the far end never sees the device closed by the code under test
    int stop_ = -1;  // eventfd that ends the drain thread
    std::string devicePath_;
    std::string linkPath_;
    std::thread drain_;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::string received_;
};

} // namespace testsupport

// TComm, the serial port component: opens a port with the line settings held in its properties,
// runs a reader thread and a writer thread on it, and reports everything that happens on the
// port as events on the main thread. Received bytes arrive only through OnReceiveData; bytes to
// send are queued to the writer, so the caller never waits for the wire.
#pragma once

#include "baselink/CommsError.h"

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

class TComm;

namespace serial {
struct Notification; // what a thread posts: code, value, bytes
class Mailbox;       // notifications on their way to the main thread
} // namespace serial

using TReceiveDataEvent =
    std::function<void(TComm* Sender, const char* Buffer, std::uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, std::uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, std::uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TSendDataEmptyEvent = TNotifyEvent;

// Notification codes that the threads post to the component.
constexpr int kCommReceiveData = 1025;
constexpr int kCommReceiveError = 1026;
constexpr int kCommRequestHangup = 1027;
constexpr int kCommModemStateChange = 1028;
constexpr int kCommSendDataEmpty = 1029;

// Lives on the main thread: properties, OpenComm, CloseComm, SendData and every event belong to
// it. The owner (the QObject parent) destroys it; an open component is closed first.
class TComm : public QObject {
public:
    explicit TComm(QObject* owner = nullptr);
    ~TComm() override;

    // The program directory whose ports/ folder gives port names their devices (ResolvePortDevice).
    // Set once at start-up; tests point it at a temporary directory.
    static void SetProgramDirectory(const std::string& programDir);
    static std::string ProgramDirectory();

    // Opens the device that CommName resolves to and starts both threads. Raises ECommsError.
    void OpenComm();
    // Stops both threads and closes the device; does nothing when closed. Notifications already
    // posted are still delivered afterwards.
    void CloseComm();
    // Queues a copy of the bytes for the writer; false (nothing queued) when closed, when the
    // count is 0 or when the writer has ended after a failure.
    bool SendData(const char* buffer, std::uint16_t bufferLength);

    // Published properties. Setters of line settings and time-outs apply at once on an open port;
    // CommName and Parity take effect at the next OpenComm.
    const std::string& CommName() const { return commName_; }
    void SetCommName(const std::string& value) { commName_ = value; }
    std::uint32_t BaudRate() const { return baudRate_; }
    void SetBaudRate(std::uint32_t value) { SetLine(baudRate_, value); }
    bool ParityCheck() const { return parityCheck_; }
    void SetParityCheck(bool value) { SetLine(parityCheck_, value); }
    bool Outx_CtsFlow() const { return outxCtsFlow_; }
    void SetOutx_CtsFlow(bool value) { SetLine(outxCtsFlow_, value); }
    bool Outx_DsrFlow() const { return outxDsrFlow_; }
    void SetOutx_DsrFlow(bool value) { SetLine(outxDsrFlow_, value); }
    TDtrControl DtrControl() const { return dtrControl_; }
    void SetDtrControl(TDtrControl value) { SetLine(dtrControl_, value); }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    void SetDsrSensitivity(bool value) { SetLine(dsrSensitivity_, value); }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetTxContinueOnXoff(bool value) { SetLine(txContinueOnXoff_, value); }
    bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
    void SetOutx_XonXoffFlow(bool value) { SetLine(outxXonXoffFlow_, value); }
    bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
    void SetInx_XonXoffFlow(bool value) { SetLine(inxXonXoffFlow_, value); }
    bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
    void SetReplaceWhenParityError(bool value) { SetLine(replaceWhenParityError_, value); }
    bool IgnoreNullChar() const { return ignoreNullChar_; }
    void SetIgnoreNullChar(bool value) { SetLine(ignoreNullChar_, value); }
    TRtsControl RtsControl() const { return rtsControl_; }
    void SetRtsControl(TRtsControl value) { SetLine(rtsControl_, value); }
    std::uint16_t XonLimit() const { return xonLimit_; }
    void SetXonLimit(std::uint16_t value) { SetLine(xonLimit_, value); }
    std::uint16_t XoffLimit() const { return xoffLimit_; }
    void SetXoffLimit(std::uint16_t value) { SetLine(xoffLimit_, value); }
    TByteSize ByteSize() const { return byteSize_; }
    void SetByteSize(TByteSize value) { SetLine(byteSize_, value); }
    TParity Parity() const { return parity_; }
    void SetParity(TParity value) { parity_ = value; }
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value) { SetLine(stopBits_, value); }
    unsigned char XonChar() const { return xonChar_; }
    void SetXonChar(unsigned char value) { SetLine(xonChar_, value); }
    unsigned char XoffChar() const { return xoffChar_; }
    void SetXoffChar(unsigned char value) { SetLine(xoffChar_, value); }
    unsigned char ReplacedChar() const { return replacedChar_; }
    void SetReplacedChar(unsigned char value) { SetLine(replacedChar_, value); }
    std::uint32_t ReadIntervalTimeout() const { return readIntervalTimeout_; }
    void SetReadIntervalTimeout(std::uint32_t value) { SetTimeout(readIntervalTimeout_, value); }
    std::uint32_t ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
    void SetReadTotalTimeoutMultiplier(std::uint32_t value) {
        SetTimeout(readTotalTimeoutMultiplier_, value);
    }
    std::uint32_t ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
    void SetReadTotalTimeoutConstant(std::uint32_t value) {
        SetTimeout(readTotalTimeoutConstant_, value);
    }
    std::uint32_t WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
    void SetWriteTotalTimeoutMultiplier(std::uint32_t value) {
        SetTimeout(writeTotalTimeoutMultiplier_, value);
    }
    std::uint32_t WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }
    void SetWriteTotalTimeoutConstant(std::uint32_t value) {
        SetTimeout(writeTotalTimeoutConstant_, value);
    }

    int Tag() const { return tag_; }
    void SetTag(int value) { tag_ = value; }

    // Events, called on the main thread. An error raised by OnReceiveData is swallowed.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

    // True while the writer has nothing left to send (and while closed).
    bool SendQueueEmpty() const { return sendQueueEmpty_; }
    bool Opened() const { return session_ != nullptr; }
    // True while open on a device whose reader or writer reported a hang-up (1027): a hang-up
    // notification delivered after CloseComm or a new OpenComm belongs to an earlier opening.
    bool HungUp() const;

private:
    struct Session; // the open device, the close event and both threads

    template <class T> void SetLine(T& field, T value) {
        if (field == value) {
            return;
        }
        field = value;
        if (session_) {
            ApplyLineSettings();
        }
    }
    void SetTimeout(std::uint32_t& field, std::uint32_t value);
    void ApplyLineSettings();
    void ApplyTimeouts();
    void ApplyModemLines();
    void Deliver(const serial::Notification& notification);
    bool LetOutputGo();

    std::string commName_ = "COM2";
    std::uint32_t baudRate_ = 9600;
    bool parityCheck_ = false;
    bool outxCtsFlow_ = false;
    bool outxDsrFlow_ = false;
    TDtrControl dtrControl_ = TDtrControl::DtrEnable;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = true;
    bool outxXonXoffFlow_ = true;
    bool inxXonXoffFlow_ = true;
    bool replaceWhenParityError_ = false;
    bool ignoreNullChar_ = false;
    TRtsControl rtsControl_ = TRtsControl::RtsEnable;
    std::uint16_t xonLimit_ = 500;
    std::uint16_t xoffLimit_ = 500;
    TByteSize byteSize_ = TByteSize::_8;
    TParity parity_ = TParity::None;
    TStopBits stopBits_ = TStopBits::_1;
    unsigned char xonChar_ = 0x11;
    unsigned char xoffChar_ = 0x13;
    unsigned char replacedChar_ = 0x00;
    std::uint32_t readIntervalTimeout_ = 100;
    std::uint32_t readTotalTimeoutMultiplier_ = 0;
    std::uint32_t readTotalTimeoutConstant_ = 0;
    std::uint32_t writeTotalTimeoutMultiplier_ = 0;
    std::uint32_t writeTotalTimeoutConstant_ = 0;
    int tag_ = 0;

    TParity openedParity_ = TParity::None; // the parity the open device runs with
    std::atomic<bool> sendQueueEmpty_{true};
    std::unique_ptr<serial::Mailbox> mailbox_; // the message sink, created with the component
    std::unique_ptr<Session> session_;         // present while open
};

#include "hostlink/HostLink.h"

#include "hostlink/HostEndpoint.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <string>

namespace hostlink {
HostLink::HostLink(WorkLog& log, HostLinkOwner& owner, HostEndpoint* endpoint)
    : log_(log), owner_(owner), endpoint_(endpoint) {
    if (endpoint_ != nullptr) {
        connection_ = QObject::connect(
            endpoint_, &HostEndpoint::MessageReceived, endpoint_,
            [this](quint32 first, qint32 second) { HandleMessage(first, second); });
        streamEnd_ = QObject::connect(endpoint_, &HostEndpoint::StreamEnded, endpoint_,
                                      [this](const std::string& line) { log_.Append(line); });
    }
}

HostLink::~HostLink() {
    QObject::disconnect(connection_);
    QObject::disconnect(streamEnd_);
}

void HostLink::HandleMessage(std::uint32_t /*first*/, std::int32_t second) {
    log_.Append(text::Fixed("收到主程序[句柄:") + std::to_string(hostHandle_) +
                text::Fixed("]发来的消息[") + std::to_string(second) + "]");
    switch (ClassifyHostCode(second)) {
    case HostCode::Invalid:
        log_.Append(text::Fixed("无效的主程序句柄"));
        break;
    case HostCode::HandleOrReply:
        HandleOrReply(second);
        break;
    case HostCode::NoOperation:
        break;
    case HostCode::ShowWindow:
        owner_.ShowMainWindow();
        break;
    case HostCode::HostCloses:
        HostCloses();
        break;
    }
}

// A reply-ready message goes to the owner, which ties it to the request with the host and
// answers each request once, also when such messages arrive inside one another's waits.
void HostLink::HandleOrReply(std::int32_t code) {
    if (hostHandle_ == 0) {
        SetHostHandle(static_cast<unsigned>(code));
        log_.Append(text::Fixed("无主程序句柄,设置新句柄:") + std::to_string(code));
        return;
    }
    owner_.ReplyReady();
}

void HostLink::HostCloses() {
    log_.Append(text::Fixed("收到窗口关闭信息,主程序句柄置为:0"));
    SetHostHandle(0);
    SetHostClosing(true);
    SetHostGone(true);
    owner_.RunCloseDecision();
}

void HostLink::NotifyHost() {
    const unsigned handle = hostHandle_;
    log_.Append(text::Fixed("主程序句柄:[") + std::to_string(handle) + "]");
    if (handle != 0) {
        log_.Append(text::Fixed("向主程序[") + std::to_string(handle) +
                    text::Fixed("]发送消息,通知主程序读取 T1.TXT"));
        if (endpoint_ != nullptr) {
            endpoint_->Post(handle, kNotifyFirst, kNotifySecond);
        }
        ReportIfGone(handle);
    } else {
        log_.Append(text::Fixed("错误的主程序句柄[") + std::to_string(handle) + "]");
    }
}

// A host that died without its closing message: the requests wait in the queue for a restarted
// host, and the log says so once, not for every request.
void HostLink::ReportIfGone(unsigned handle) {
    if (endpoint_ == nullptr || !endpoint_->IsOpen()) {
        return; // no host link at all: said at start-up
    }
    if (endpoint_->WindowExists(handle)) {
        goneReported_ = false;
        return;
    }
    if (!goneReported_) {
        goneReported_ = true;
        log_.Append(text::Fixed("主程序窗口[句柄:") + std::to_string(handle) +
                    text::Fixed("]已不存在,请求留在命令缓存中,等待主程序重新启动"));
    }
}

void HostLink::SetHostHandle(unsigned handle) {
    goneReported_ = false;
    hostHandle_ = handle;
    owner_.HostHandleChanged(handle);
}

bool HostLink::HandOver(unsigned handle) {
    const unsigned old = hostHandle_;
    if (hostClosing_) {
        return false; // the relay is ending
    }
    if (HostWindowExists()) {
        log_.Append(text::Fixed("主程序[句柄:") + std::to_string(old) +
                    text::Fixed("]仍在运行,不接受新启动的主程序句柄:") + std::to_string(handle));
        return false;
    }
    log_.Append(text::Fixed("主程序[句柄:") + std::to_string(old) +
                text::Fixed("]已不存在,改用新启动的主程序句柄:") + std::to_string(handle));
    SetHostHandle(handle);
    SetHostGone(false);
    PostStartupAnnouncement();
    owner_.HostReplaced();
    return true;
}

void HostLink::PostStartupAnnouncement() {
    if (endpoint_ == nullptr || !endpoint_->IsOpen()) {
        return;
    }
    std::string refusal; // a stream host is connected first
    if (!endpoint_->ConnectStreamHost(hostHandle_, refusal)) {
        log_.Append(refusal);
    }
    const unsigned own = endpoint_->Handle();
    endpoint_->Post(hostHandle_, own, static_cast<std::int32_t>(own));
}

bool HostLink::HostWindowExists() const {
    const unsigned handle = hostHandle_;
    return handle != 0 && endpoint_ != nullptr && endpoint_->WindowExists(handle);
}

} // namespace hostlink

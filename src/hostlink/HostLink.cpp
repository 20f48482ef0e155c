#include "hostlink/HostLink.h"

#include "app/WorkLog.h"
#include "hostlink/HostEndpoint.h"
#include "text/Gbk.h"

#include <string>

namespace hostlink {
HostLink::HostLink(WorkLog& log, HostLinkOwner& owner, HostEndpoint* endpoint)
    : log_(log), owner_(owner), endpoint_(endpoint) {
    if (endpoint_ != nullptr) {
        connection_ = QObject::connect(
            endpoint_, &HostEndpoint::MessageReceived, endpoint_,
            [this](quint32 first, qint32 second) { HandleMessage(first, second); });
    }
}

HostLink::~HostLink() {
    QObject::disconnect(connection_);
}

void HostLink::HandleMessage(std::uint32_t /*first*/, std::int32_t second) {
    static const std::string kReceived = text::ToGbk("收到主程序[句柄:");
    static const std::string kReceivedMid = text::ToGbk("]发来的消息[");
    static const std::string kInvalid = text::ToGbk("无效的主程序句柄");

    log_.Append(kReceived + std::to_string(hostHandle_) + kReceivedMid + std::to_string(second) +
                "]");
    switch (ClassifyHostCode(second)) {
    case HostCode::Invalid:
        log_.Append(kInvalid);
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
    static const std::string kAdopted = text::ToGbk("无主程序句柄,设置新句柄:");

    if (hostHandle_ == 0) {
        SetHostHandle(static_cast<unsigned>(code));
        log_.Append(kAdopted + std::to_string(code));
        return;
    }
    owner_.ReplyReady();
}

void HostLink::HostCloses() {
    static const std::string kClosing = text::ToGbk("收到窗口关闭信息,主程序句柄置为:0");
    log_.Append(kClosing);
    SetHostHandle(0);
    SetHostClosing(true);
    SetHostGone(true);
    owner_.RunCloseDecision();
}

void HostLink::NotifyHost() {
    static const std::string kHandle = text::ToGbk("主程序句柄:[");
    static const std::string kNotify = text::ToGbk("向主程序[");
    static const std::string kNotifyTail = text::ToGbk("]发送消息,通知主程序读取 T1.TXT");
    static const std::string kWrongHandle = text::ToGbk("错误的主程序句柄[");

    const unsigned handle = hostHandle_;
    log_.Append(kHandle + std::to_string(handle) + "]");
    if (handle != 0) {
        log_.Append(kNotify + std::to_string(handle) + kNotifyTail);
        if (endpoint_ != nullptr) {
            endpoint_->Post(handle, kNotifyFirst, kNotifySecond);
        }
    } else {
        log_.Append(kWrongHandle + std::to_string(handle) + "]");
    }
}

void HostLink::PostStartupAnnouncement() {
    if (endpoint_ == nullptr || !endpoint_->IsOpen()) {
        return;
    }
    const unsigned own = endpoint_->Handle();
    endpoint_->Post(hostHandle_, own, static_cast<std::int32_t>(own));
}

bool HostLink::HostWindowExists() const {
    const unsigned handle = hostHandle_;
    return handle != 0 && endpoint_ != nullptr && endpoint_->WindowExists(handle);
}

} // namespace hostlink

#include "app/OperationRecorder.h"

#include "app/TimeOfDay.h"
#include "baselink/xyTypeConv.h"
#include "relay/OperationNames.h"
#include "relay/PdaRequest.h"
#include "relay/RequestRecord.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <string_view>

namespace app {

namespace {

constexpr std::size_t kSummaryBytes = 48;
constexpr std::size_t kReplyBytes = 812;
constexpr int kOrderItemsShown = 3;

// The text on one line: each run of control bytes becomes one blank; cut whole characters at
// maxBytes, "..." marking the cut.
std::string Readable(std::string_view s, std::size_t maxBytes) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t width = text::GbkCharLength(s, i);
        if (out.size() + width > maxBytes) {
            return text::Trim(out) + "...";
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (width == 1 && (c < 0x20 || c == 0x7F)) {
            if (out.empty() || out.back() != ' ') {
                out += ' ';
            }
        } else {
            out.append(s.substr(i, width));
        }
        i += width;
    }
    return text::Trim(out);
}

std::string Field(std::string_view data, std::size_t from, std::size_t length) {
    return from < data.size() ? Readable(data.substr(from, length), length) : "";
}

std::string OrderSummary(std::string_view data) {
    const int count = data.size() >= relay::kOrderFixedPart
                          ? static_cast<unsigned char>(data[relay::kOrderFixedPart - 1])
                          : 0;
    std::string out = text::Fixed("共") + std::to_string(count) + text::Fixed("项");
    for (int item = 0; item < count && item < kOrderItemsShown; ++item) {
        const std::size_t at =
            relay::kOrderFixedPart + static_cast<std::size_t>(item) * relay::kOrderItemBlock;
        out += ' ' + Field(data, at, 5) + text::Fixed("×") + Field(data, at + 5, 4);
    }
    return count > kOrderItemsShown ? out + " ..." : out;
}

std::string TypeOf(int operation) {
    return relay::IsKnownOperation(operation) ? relay::OperationName(operation)
                                              : std::to_string(operation);
}

} // namespace

std::string RequestSummary(int operation, const std::string& data) {
    return operation == relay::kOrderOperation ? OrderSummary(data) : Readable(data, kSummaryBytes);
}

std::string ActivityDetail(const HandheldActivity* a) {
    if (!a) {
        return text::Fixed("启动以来没有请求");
    }
    const std::string status = a->LastStatus.empty() ? text::Fixed("无") : a->LastStatus;
    return text::Fixed("请求 ") + std::to_string(a->Requests) + text::Fixed(" 次，最近 ") +
           a->LastSeen + text::Fixed("，上次回复 ") + status + text::Fixed("，拒绝：未注册 ") +
           std::to_string(a->Unregistered) + text::Fixed(" 次，操作类型错 ") +
           std::to_string(a->UnknownOperation) + text::Fixed(" 次");
}

std::function<std::string()> OperationRecorder::TimeOfDayClock() {
    return [] { return TimeOfDayNow(); };
}

OperationRecorder::OperationRecorder(PdaReplySender& next, std::function<std::string()> timeOfDay)
    : next_(next), timeOfDay_(std::move(timeOfDay)) {}

const HandheldActivity* OperationRecorder::ActivityOf(const std::string& baseId,
                                                      const std::string& handheld3) const {
    const auto found = activity_.find({baseId, handheld3});
    return found == activity_.end() ? nullptr : &found->second;
}

void OperationRecorder::RequestAccepted(const relay::PdaRequest& r) {
    const std::string time = timeOfDay_();
    Seen(r, time);
    Add({r.BaseHex2(), r.Handheld3(), TypeOf(r.Operation),
         time + ' ' + RequestSummary(r.Operation, r.Data)});
}

void OperationRecorder::RequestRefused(const relay::PdaRequest& r, Refusal why) {
    HandheldActivity& a = Seen(r, timeOfDay_());
    ++(why == Refusal::Unregistered ? a.Unregistered : a.UnknownOperation);
}

void OperationRecorder::SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                                     const std::string& text, const std::string& timeHex,
                                     bool success) {
    next_.SendPdaReply(operation, baseByte, handheld, text, timeHex, success);
    const std::string baseId = HexCodec::ToHex(baseByte, 2);
    const std::string handheld3 = text::ZeroPadded(handheld, 3);
    activity_[{baseId, handheld3}].LastStatus = success ? "OK" : "NO";
    Add({baseId, handheld3, TypeOf(operation), timeOfDay_() + ' ' + Readable(text, kReplyBytes),
         true});
}

HandheldActivity& OperationRecorder::Seen(const relay::PdaRequest& r, const std::string& time) {
    HandheldActivity& a = activity_[{r.BaseHex2(), r.Handheld3()}];
    ++a.Requests;
    a.LastSeen = time;
    return a;
}

void OperationRecorder::Add(OperationRecord record) {
    records_.push_back(std::move(record));
    if (records_.size() > kMaxRecords) {
        records_.pop_front();
    }
}

} // namespace app

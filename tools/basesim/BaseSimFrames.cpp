#include "BaseSimFrames.h"

#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"

#include <array>
#include <cctype>

namespace basesim {
namespace {

// Request mnemonics that differ from the operation's name.
constexpr std::string_view kMnemonicYdkt = "YDKT";
constexpr int kOperationYdkt = 30;

constexpr char kStartFrame[] = "\xAA\x33\x00\x00\x00\x04\x55\xAA\x5A\xA5\x01\xFE";
constexpr std::size_t kStartFrameLength = sizeof kStartFrame - 1;

unsigned Byte(const Bytes& b, std::size_t i) {
    return static_cast<unsigned char>(b[i]);
}
unsigned Be16(const Bytes& b, std::size_t i) {
    return Byte(b, i) * 256 + Byte(b, i + 1);
}

std::string Hex2(unsigned value) {
    return Hex(Bytes(1, static_cast<char>(value)));
}
std::string Hex4(unsigned value) {
    return Hex(Bytes{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)});
}

void PutBe16(Bytes& b, unsigned value) {
    b += static_cast<char>((value >> 8) & 0xFF);
    b += static_cast<char>(value & 0xFF);
}

char Bcd(int value) {
    return static_cast<char>((value / 10) * 16 + value % 10);
}

// A BCD byte's value, or -1 when a digit is above 9.
int FromBcd(unsigned byte) {
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9) {
        return -1;
    }
    return static_cast<int>((byte >> 4) * 10 + (byte & 0x0F));
}

bool Zero(const Bytes& b, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < b.size(); ++i) {
        if (b[i] != '\0') {
            return false;
        }
    }
    return true;
}

// A frame with the command envelope AA cmd 00 00 L(2) data(L) sum(2) over the data.
struct EnvelopeCheck {
    bool lenOk = false;
    bool zeroOk = false;
    bool sumOk = false;
};
EnvelopeCheck CheckEnvelope(const Frame& frame, unsigned expectedLength) {
    const Bytes& b = frame.bytes;
    EnvelopeCheck c;
    if (frame.truncated || b.size() < 8) {
        return c;
    }
    unsigned length = Be16(b, 4);
    c.lenOk = length == expectedLength && b.size() == length + 8;
    c.zeroOk = Zero(b, 2, 4);
    c.sumOk = b.size() == length + 8 &&
              Sum16(std::string_view(b).substr(6, length)) == Be16(b, 6 + length);
    return c;
}

void AddEnvelope(JsonLine& line, const EnvelopeCheck& c) {
    line.Bool("len_ok", c.lenOk).Bool("zero_ok", c.zeroOk).Bool("sum_ok", c.sumOk);
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
int HexValue(char c) {
    return std::isdigit(static_cast<unsigned char>(c))
               ? c - '0'
               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
}

} // namespace

// --- check values ---

std::uint16_t Sum16(std::string_view bytes) {
    unsigned sum = 0;
    for (unsigned char c : bytes) {
        sum = (sum + c) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(sum);
}

std::uint16_t CrcAllButLast(std::string_view text) {
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        crc ^= static_cast<unsigned char>(text[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

std::string Hex(std::string_view bytes) {
    return HexCodec::BytesToHex(std::string(bytes));
}

std::optional<Bytes> ParseHex(std::string_view hex) {
    Bytes out;
    std::size_t i = 0;
    while (i < hex.size()) {
        if (hex[i] == ' ' || hex[i] == '\t') {
            ++i;
            continue;
        }
        if (i + 1 >= hex.size() || !IsHexDigit(hex[i]) || !IsHexDigit(hex[i + 1])) {
            return std::nullopt;
        }
        out += static_cast<char>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
        i += 2;
    }
    return out;
}

// --- operations ---

std::string_view OperationName(int operation) {
    return relay::IsKnownOperation(operation) ? std::string_view(relay::OperationName(operation))
                                              : std::string_view();
}

std::optional<int> OperationByName(std::string_view name) {
    std::string upper;
    for (char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (const int op = relay::FindOperationName(upper); op >= 0) {
        return op;
    }
    if (upper == kMnemonicYdkt) {
        return kOperationYdkt;
    }
    return std::nullopt;
}

// --- frames sent ---

Bytes BuildRequest(const RequestFrame& request) {
    Bytes body = request.time;
    body += static_cast<char>(request.opByte);
    body += request.data;
    body += "\xAA\xBB";
    Bytes frame = "\xAA\x31";
    frame += static_cast<char>(request.station);
    frame += static_cast<char>(request.handheld);
    PutBe16(frame, static_cast<unsigned>(body.size()));
    frame += body;
    PutBe16(frame, Sum16(body));
    return frame;
}

Bytes TimeField(int hour, int minute, int second) {
    Bytes t;
    t += Bcd(second);
    t += Bcd(minute);
    t += Bcd(hour);
    t += Bytes(3, '\0');
    return t;
}

Bytes BuildAnswer(int channel, bool shortAnswer) {
    Bytes answer = "\xAA";
    answer += Bytes(6, '\0');
    if (!shortAnswer) {
        answer += static_cast<char>((channel - 1) & 0xFF);
    }
    return answer;
}

Bytes BroadcastNotice() {
    return "\x5A";
}
Bytes ReadyNotice() {
    return "\xAA\x4F";
}

// --- splitting ---

const char* KindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Reply:
        return "reply";
    case FrameKind::Query:
        return "query";
    case FrameKind::SetId:
        return "setid";
    case FrameKind::Clock:
        return "clock";
    case FrameKind::Start:
        return "start";
    case FrameKind::Packet:
        return "packet";
    case FrameKind::Unknown:
        break;
    }
    return "unknown";
}

namespace {

// The kind of a frame that starts the buffer, judged from its first two bytes.
FrameKind KindOfLead(unsigned first, unsigned second) {
    if (first == 0x0A) {
        return FrameKind::Packet;
    }
    if (first != 0xAA) {
        return FrameKind::Unknown;
    }
    switch (second) {
    case 0x00:
        return FrameKind::Query;
    case 0x32:
        return FrameKind::Reply;
    case 0x40:
        return FrameKind::SetId;
    case 0x41:
        return FrameKind::Clock;
    case 0x33:
        return FrameKind::Start;
    default:
        return FrameKind::Unknown;
    }
}

bool StartsFrame(char c) {
    return c == '\xAA' || c == '\x0A';
}

} // namespace

std::optional<Frame> FrameSplitter::Next() {
    if (buffer_.empty()) {
        return std::nullopt;
    }
    unsigned first = Byte(buffer_, 0);
    if (first == 0xAA && buffer_.size() < 2) {
        return std::nullopt;
    }
    FrameKind kind = KindOfLead(first, buffer_.size() > 1 ? Byte(buffer_, 1) : 0);
    std::size_t length = 0;
    switch (kind) {
    case FrameKind::Query:
        length = kQueryLength;
        break;
    case FrameKind::Packet:
        length = kPacketLength;
        break;
    case FrameKind::Unknown: {
        // Unknown bytes run up to the next frame start; until one arrives, more may follow.
        length = 1;
        while (length < buffer_.size() && !StartsFrame(buffer_[length])) {
            ++length;
        }
        if (length == buffer_.size()) {
            return std::nullopt;
        }
        break;
    }
    default:
        if (buffer_.size() < 6) {
            return std::nullopt;
        }
        length = Be16(buffer_, 4) + 8;
        break;
    }
    if (buffer_.size() < length) {
        return std::nullopt;
    }
    Frame frame{kind, buffer_.substr(0, length), false};
    buffer_.erase(0, length);
    return frame;
}

std::optional<Frame> FrameSplitter::Flush() {
    if (buffer_.empty()) {
        return std::nullopt;
    }
    Frame frame;
    frame.kind = KindOfLead(Byte(buffer_, 0), buffer_.size() > 1 ? Byte(buffer_, 1) : 0);
    frame.bytes.swap(buffer_);
    frame.truncated = frame.kind != FrameKind::Unknown;
    return frame;
}

// --- checks ---

void CheckReply(const Frame& frame, JsonLine& line) {
    const Bytes& b = frame.bytes;
    line.Str("kind", "reply");
    if (frame.truncated || b.size() < 24) {
        line.Bool("len_ok", false).Bool("ok", false);
        return;
    }
    unsigned length = Be16(b, 4);
    if (b.size() != length + 8) {
        line.Bool("len_ok", false).Bool("ok", false);
        return;
    }
    unsigned textLength = Byte(b, 16) + Byte(b, 17) * 256; // the one little-endian field
    int operation = static_cast<int>(Byte(b, 12)) - kFirstOpByte;
    bool lenOk = length == textLength + 16 && b.size() == length + 8;
    std::size_t textEnd = std::min<std::size_t>(20 + textLength, b.size() - 4);
    Bytes text = b.substr(20, textEnd - 20);
    std::string textHex = Hex(text);
    bool trailerOk = Byte(b, length + 4) == 0xAA && Byte(b, length + 5) == 0xBB;
    bool sumOk = Sum16(std::string_view(b).substr(6, length)) == Be16(b, 6 + length);
    unsigned crc = Be16(b, 18);
    bool crcOk = CrcAllButLast(textHex) == crc;
    bool handheldOk = Byte(b, 13) == Byte(b, 3);
    unsigned status = Be16(b, 14);
    std::string statusText = status == 0x4F4B ? "OK" : status == 0x4E4F ? "NO" : Hex4(status);
    bool statusOk = status == 0x4F4B || status == 0x4E4F;
    line.Str("station", Hex2(Byte(b, 2)))
        .Int("handheld", Byte(b, 3))
        .Str("time", Hex(std::string_view(b).substr(6, 6)))
        .Int("operation", operation)
        .Str("op", OperationName(operation))
        .Str("opbyte", Hex2(Byte(b, 12)))
        .Int("handheld_echo", Byte(b, 13))
        .Str("status", statusText)
        .Int("length", length)
        .Int("text_len", textLength)
        .Str("crc", Hex4(crc))
        .Str("text", text::ToUtf8(text))
        .Str("text_hex", textHex)
        .Bool("len_ok", lenOk)
        .Bool("trailer_ok", trailerOk)
        .Bool("sum_ok", sumOk)
        .Bool("crc_ok", crcOk)
        .Bool("handheld_ok", handheldOk)
        .Bool("status_ok", statusOk)
        .Bool("ok", lenOk && trailerOk && sumOk && crcOk && handheldOk && statusOk);
}

bool CheckQuery(const Frame& frame, JsonLine& line) {
    bool ok = !frame.truncated && frame.bytes.size() == kQueryLength &&
              Zero(frame.bytes, 1, kQueryLength);
    line.Str("kind", "query").Bool("ok", ok);
    return ok;
}

std::optional<SetIdFrame> CheckSetId(const Frame& frame, JsonLine& line) {
    line.Str("kind", "setid");
    EnvelopeCheck c = CheckEnvelope(frame, 2);
    if (!c.lenOk) {
        AddEnvelope(line, c);
        line.Bool("ok", false);
        return std::nullopt;
    }
    SetIdFrame s{static_cast<std::uint8_t>(Byte(frame.bytes, 6)),
                 static_cast<int>(Byte(frame.bytes, 7)) + 1};
    line.Int("id", s.id)
        .Str("id_hex", Hex2(s.id))
        .Int("channel", s.channel)
        .Str("channel_byte", Hex2(Byte(frame.bytes, 7)));
    AddEnvelope(line, c);
    bool ok = c.sumOk && c.zeroOk;
    line.Bool("ok", ok);
    if (!ok) {
        return std::nullopt;
    }
    return s;
}

int Weekday(int year, int month, int day) {
    // Days from civil (proleptic Gregorian), 1970-01-01 was a Thursday (4).
    year -= month <= 2;
    int era = (year >= 0 ? year : year - 399) / 400;
    int yoe = year - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long days = static_cast<long>(era) * 146097 + doe - 719468;
    long w = (days + 3) % 7; // 0 Monday
    if (w < 0) {
        w += 7;
    }
    return static_cast<int>(w) + 1;
}

std::optional<ClockFrame> CheckClock(const Frame& frame, JsonLine& line) {
    line.Str("kind", "clock");
    EnvelopeCheck c = CheckEnvelope(frame, 7);
    if (!c.lenOk) {
        AddEnvelope(line, c);
        line.Bool("ok", false);
        return std::nullopt;
    }
    const Bytes& b = frame.bytes;
    ClockFrame t{FromBcd(Byte(b, 6)), FromBcd(Byte(b, 7)),  FromBcd(Byte(b, 8)),
                 FromBcd(Byte(b, 9)), FromBcd(Byte(b, 10)), FromBcd(Byte(b, 11)),
                 FromBcd(Byte(b, 12))};
    bool bcdOk = t.second >= 0 && t.second < 60 && t.minute >= 0 && t.minute < 60 && t.hour >= 0 &&
                 t.hour < 24 && t.day >= 1 && t.day <= 31 && t.weekday >= 1 && t.weekday <= 7 &&
                 t.month >= 1 && t.month <= 12 && t.year >= 0;
    bool weekdayOk = bcdOk && Weekday(2000 + t.year, t.month, t.day) == t.weekday;
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    line.Str("clock", bcdOk ? when : "").Int("weekday", t.weekday);
    AddEnvelope(line, c);
    line.Bool("bcd_ok", bcdOk).Bool("weekday_ok", weekdayOk);
    bool applicable = c.sumOk && c.zeroOk && bcdOk;
    line.Bool("ok", applicable && weekdayOk);
    if (!applicable) {
        return std::nullopt;
    }
    return t;
}

bool CheckStart(const Frame& frame, JsonLine& line) {
    line.Str("kind", "start");
    EnvelopeCheck c = CheckEnvelope(frame, 4);
    AddEnvelope(line, c);
    bool ok = !frame.truncated && frame.bytes == Bytes(kStartFrame, kStartFrameLength);
    line.Bool("ok", ok);
    return ok;
}

std::optional<PacketFrame> CheckPacket(const Frame& frame, JsonLine& line) {
    const Bytes& b = frame.bytes;
    line.Str("kind", "packet");
    bool lenOk = !frame.truncated && b.size() == kPacketLength;
    if (!lenOk) {
        line.Bool("len_ok", false).Bool("ok", false);
        return std::nullopt;
    }
    PacketFrame p{static_cast<int>(Be16(b, 1)), static_cast<int>(Be16(b, 7)),
                  b.substr(9, kBlockSize)};
    bool zeroOk = Zero(b, 3, 7);
    bool sumOk = Sum16(std::string_view(b).substr(0, 73)) == Be16(b, 73);
    line.Int("block", p.block)
        .Int("count", p.count)
        .Bool("len_ok", true)
        .Bool("zero_ok", zeroOk)
        .Bool("sum_ok", sumOk)
        .Bool("ok", zeroOk && sumOk);
    if (!zeroOk || !sumOk) {
        return std::nullopt;
    }
    return p;
}

} // namespace basesim

#include "relay/RequestRecord.h"

#include "baselink/xyTypeConv.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "text/Decimal.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <array>
#include <vector>

namespace relay {

namespace {

// Positions count bytes from 1; [first-last] inclusive, kToEnd for "to the end of the data".
constexpr std::size_t kToEnd = static_cast<std::size_t>(-1);
struct Range {
    std::size_t first, last;
};

enum class Body {
    Fields,     // the ranges joined with blanks, optionally a blank after the last
    Padded,     // the whole data padded with blanks to padTo bytes
    HeaderOnly, // the header line alone
    EmptyFile,  // no line at all
    Order,      // the dish order record
};

struct CatalogueRow {
    const char* mnemonic;
    Body body;
    std::vector<Range> fields;
    bool trailingBlank = false;
    std::size_t padTo = 0;
};

const std::vector<Range> kJcFields = {{1, 7},   {8, 12},  {13, 16}, {17, 30},
                                      {31, 34}, {35, 38}, {39, 39}, {40, 51}};

const std::array<CatalogueRow, kOperationCount> kCatalogue = {{
    {"DL", Body::Fields, {{1, 10}, {11, 14}, {15, 22}}, true},
    {"XGMM", Body::Fields, {{1, 8}, {9, 16}}},
    {"KT", Body::Fields, {{1, 4}, {5, 6}, {7, kToEnd}}},
    {"HT", Body::Fields, {{1, 7}, {8, 14}}, true},
    {"BT", Body::Fields, {{1, 7}, {8, 14}}, true},
    {"CT", Body::Padded, {}, false, 7},
    {"XGTT", Body::Fields, {{1, 7}, {8, 9}, {10, 14}}, true},
    {"DC", Body::Order, {}},
    {"TC", Body::Fields, {{1, 7}, {8, 17}, {18, 21}, {22, 25}, {26, 35}}},
    {"ZZCC", Body::Fields, {{1, 7}}},
    {"CPCC", Body::Fields, {{1, 7}, {8, 12}}},
    {"ZDCX", Body::Fields, {{1, 7}}},
    {"KXHZ", Body::HeaderOnly, {}},
    {"LBKX", Body::Fields, {{1, 2}}},
    {"THKX", Body::Fields, {{1, 4}}},
    {"YDHZ", Body::HeaderOnly, {}},
    {"THYD", Body::Fields, {{1, 4}}},
    {"ZLQR", Body::Fields, {{1, 7}, {8, 12}, {13, 22}, {23, 30}}},
    {"", Body::EmptyFile, {}},
    {"", Body::EmptyFile, {}},
    {"DYJZ", Body::Padded, {}, false, 7},
    {"GT", Body::Fields, {{1, 7}, {8, 12}}},
    {"CLCC", Body::Fields, {{1, 7}, {8, 15}}},
    {"", Body::EmptyFile, {}},
    {"JC", Body::Fields, kJcFields},
    {"DYDC", Body::Padded, {}, false, 13},
    {"GQ", Body::HeaderOnly, {}},
    {"LSC", Body::Fields, kJcFields},
    {"XGJQ", Body::Padded, {}, false, 21},
    {"", Body::EmptyFile, {}},
    {"YDKT", Body::Fields, {{1, 4}, {5, 6}, {7, 11}}},
    {"ZZTC", Body::Fields, {{1, 7}}},
    {"CPTC", Body::Fields, {{1, 7}, {8, 12}}},
    {"CLTC", Body::Fields, {{1, 7}, {8, 15}}},
    {"ZZQC", Body::Fields, {{1, 7}}},
    {"CPQC", Body::Fields, {{1, 7}, {8, 12}}},
    {"CLQC", Body::Fields, {{1, 7}, {8, 15}}},
}};

const std::string kLineEnd = "\r\n";
constexpr char SP = ' ';

// The bytes [first-last] of data that exist, possibly none.
std::string Field(const std::string& data, std::size_t first, std::size_t last) {
    if (first > data.size()) {
        return std::string();
    }
    std::size_t end = last == kToEnd ? data.size() : std::min(last, data.size());
    return end < first ? std::string() : data.substr(first - 1, end - first + 1);
}

std::string PadRight(std::string s, std::size_t width) {
    if (s.size() < width) {
        s.append(width - s.size(), SP);
    }
    return s;
}

std::string PadLeft(const std::string& s, std::size_t width) {
    return s.size() < width ? std::string(width - s.size(), SP) + s : s;
}

std::string Blanks(std::size_t n) {
    return std::string(n, SP);
}

// hh:mm:ss from the time text, whose digit pairs are seconds, minutes and hours.
std::string ClockText(const std::string& timeHex) {
    auto pair = [&](std::size_t first) { return Field(timeHex, first, first + 1); };
    return pair(5) + ":" + pair(3) + ":" + pair(1);
}

std::string FieldsLine(const CatalogueRow& row, const std::string& data) {
    std::string line;
    for (std::size_t i = 0; i < row.fields.size(); ++i) {
        if (i > 0) {
            line += SP;
        }
        line += Field(data, row.fields[i].first, row.fields[i].last);
    }
    if (row.trailingBlank) {
        line += SP;
    }
    return line;
}

std::string OrderLines(const std::string& data, const std::string& timeHex) {
    const std::string f1 = Field(data, 1, 7);
    const std::string f2 = PadRight(text::Trim(Field(data, 8, 9)), 2);
    const std::string f3 = Field(data, 12, 23);
    const std::string itemCount = Field(data, kOrderFixedPart, kOrderFixedPart);
    const std::size_t count = itemCount.empty() ? 0 : static_cast<unsigned char>(itemCount[0]);
    const std::string clock = ClockText(timeHex);

    std::string lines = f1 + SP + Blanks(11) + f3 + SP + Blanks(5) + clock + kLineEnd;
    for (std::size_t k = 1; k <= count; ++k) {
        const std::size_t b = kOrderFixedPart + 1 + kOrderItemBlock * (k - 1);
        const std::string code = Field(data, b, b + 4);
        const std::string quantity = PadLeft(text::Trim(Field(data, b + 5, b + 8)), 4);
        const std::string field12 = Field(data, b + 9, b + 20);
        const std::string field2 = Field(data, b + 21, b + 22);
        const std::string field1 = Field(data, b + 23, b + 23);
        lines += f1 + SP + code + SP + quantity + SP + field12 + SP + field2 + SP + field1 + SP +
                 clock + SP + Blanks(4) + SP + f2 + kLineEnd;
    }
    return lines;
}

std::string BodyLines(const CatalogueRow& row, const std::string& data,
                      const std::string& timeHex) {
    switch (row.body) {
    case Body::Fields:
        return FieldsLine(row, data) + kLineEnd;
    case Body::Padded:
        return PadRight(data, row.padTo) + kLineEnd;
    case Body::Order:
        return OrderLines(data, timeHex);
    case Body::HeaderOnly:
    case Body::EmptyFile:
        break;
    }
    return std::string();
}

} // namespace

std::string HeaderMnemonic(int operation) {
    if (!IsKnownOperation(operation)) {
        return std::string();
    }
    const char* mnemonic = kCatalogue[static_cast<std::size_t>(operation)].mnemonic;
    return *mnemonic == '\0' ? std::string() : PadRight(mnemonic, 5);
}

std::string ComposeRequestRecord(int operation, int handheld, const std::string& data,
                                 const std::string& timeHex) {
    if (!IsKnownOperation(operation)) {
        return std::string();
    }
    const CatalogueRow& row = kCatalogue[static_cast<std::size_t>(operation)];
    if (row.body == Body::EmptyFile) {
        return std::string();
    }
    return HeaderMnemonic(operation) + text::ZeroPadded(handheld, 3) + kLineEnd +
           BodyLines(row, data, timeHex);
}

std::string RequestFilePath(const config::AppSettings& settings) {
    return settings.ExchangeDir + "T1.txt";
}

RequestBuilder::RequestBuilder(const config::AppSettings& settings,
                               const config::HandheldRegistry& registry, HandheldView& view,
                               HostNotifier& host)
    : settings_(settings), registry_(registry), view_(view), host_(host) {}

void RequestBuilder::BuildRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                                  const std::string& data, const std::string& timeHex) {
    if (!IsKnownOperation(operation) || !StillRegistered(baseByte, handheld)) {
        return;
    }
    const std::string record = ComposeRequestRecord(operation, handheld, data, timeHex);
    if (operation == 0) {
        view_.MarkLoggedIn(baseByte, handheld);
    }
    text::WriteFileAtomic(RequestFilePath(settings_), record, text::Durability::Cached);
    host_.NotifyHost();
}

// The registration may have been removed while the request waited in the queue.
bool RequestBuilder::StillRegistered(std::uint8_t baseByte, std::uint8_t handheld) const {
    return registry_.IsRegistered(HexCodec::ToHex(baseByte, 2), text::ZeroPadded(handheld, 3));
}

} // namespace relay

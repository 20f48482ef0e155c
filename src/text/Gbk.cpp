#include "text/Gbk.h"

#include <cerrno>
#include <iconv.h>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace text {
namespace {

// One iconv conversion. On an invalid or incomplete sequence, onBad decides: it returns false to
// give up (the caller throws), or appends a replacement and the byte is skipped.
template <typename OnBad>
std::string Convert(const char* to, const char* from, std::string_view in, OnBad onBad) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("iconv_open failed: ") + from + " -> " + to);
    }
    std::string out;
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        int err = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1) || err == E2BIG) {
            continue; // judged by consumed input, not by the return value
        }
        if (!onBad(out)) {
            iconv_close(cd);
            throw std::invalid_argument("text has no conversion");
        }
        ++inPtr; // EILSEQ or EINVAL: skip the offending byte
        --inLeft;
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string ToGbk(std::string_view utf8) {
    return Convert("GBK", "UTF-8", utf8, [](std::string&) { return false; });
}

std::string SystemTextToGbk(std::string_view utf8) {
    try {
        return ToGbk(utf8);
    } catch (const std::invalid_argument&) {
        return std::string(utf8);
    }
}

const std::string& Fixed(const char* utf8) {
    static std::mutex lock;
    static std::unordered_map<std::string, std::string> converted; // node-based: stable references
    std::lock_guard<std::mutex> guard(lock);
    auto it = converted.find(utf8);
    if (it == converted.end()) {
        it = converted.emplace(utf8, ToGbk(utf8)).first;
    }
    return it->second;
}

std::string ToUtf8(std::string_view gbk) {
    return Convert("UTF-8", "GBK", gbk, [](std::string& out) {
        out += "\xEF\xBF\xBD";
        return true;
    });
}

std::string TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) {
        ++b;
    }
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) {
        --e;
    }
    return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

std::vector<std::string> SplitLines(std::string_view s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '\r' || s[i] == '\n') {
            lines.emplace_back(s.substr(start, i - start));
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
        ++i;
    }
    if (start < s.size()) {
        lines.emplace_back(s.substr(start));
    }
    return lines;
}

std::string_view CutAtNul(std::string_view s) {
    std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::size_t GbkCharLength(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < s.size()) {
        const auto trail = static_cast<unsigned char>(s[i + 1]);
        if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
            return 2;
        }
    }
    return 1;
}

namespace {

// Start offsets of every character of s.
std::vector<std::size_t> CharStarts(std::string_view s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size(); i += GbkCharLength(s, i)) {
        starts.push_back(i);
    }
    return starts;
}

} // namespace

std::size_t GbkCharCount(std::string_view s) {
    return CharStarts(s).size();
}

std::string DropLastGbkChars(std::string_view s, std::size_t n) {
    std::vector<std::size_t> starts = CharStarts(s);
    if (n >= starts.size()) {
        return std::string();
    }
    return std::string(s.substr(0, starts[starts.size() - n]));
}

std::string FoldCase(std::string_view s) {
    std::string folded(s);
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t length = GbkCharLength(folded, i);
        if (length == 1 && folded[i] >= 'A' && folded[i] <= 'Z') {
            folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
        }
        i += length;
    }
    return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

bool LessNoCase::operator()(std::string_view a, std::string_view b) const {
    return FoldCase(a) < FoldCase(b);
}

} // namespace text

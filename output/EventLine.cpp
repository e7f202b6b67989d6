#include "output/EventLine.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <variant>

#include "text/Utf8.h"

namespace orbilatch::output {

namespace {

// What a byte of a string value asks for, looked up once per byte.
enum class ByteKind : std::uint8_t { plain, escaped, nonAscii };

constexpr std::array<ByteKind, 256> byteKinds = [] {
    std::array<ByteKind, 256> kinds{};
    for (int byte = 0; byte < 256; ++byte) {
        if (byte < 0x20 || byte == '"' || byte == '\\' || byte == '/') kinds[byte] = ByteKind::escaped;
        else if (byte >= 0x80) kinds[byte] = ByteKind::nonAscii;
    }
    return kinds;
}();

void appendEscaped(std::string& out, char c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '/': out += "\\/"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    constexpr std::string_view hexDigits = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    out += "\\u00";
    out += hexDigits[byte >> 4];
    out += hexDigits[byte & 0x0F];
}

// Every escaped character is ASCII and so never part of a multi-byte sequence:
// repairing the runs between them repairs the whole text. A run of plain ASCII,
// the usual case, needs no repair.
void appendString(std::string& out, std::string_view value) {
    out += '"';
    std::size_t runStart = 0;
    bool runIsAscii = true;
    const auto appendRun = [&](std::size_t end) {
        const std::string_view run = value.substr(runStart, end - runStart);
        if (runIsAscii) out.append(run);
        else text::appendRepairedUtf8(out, run);
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const ByteKind kind = byteKinds[static_cast<unsigned char>(value[i])];
        if (kind == ByteKind::plain) continue;
        if (kind == ByteKind::nonAscii) {
            runIsAscii = false;
            continue;
        }
        appendRun(i);
        appendEscaped(out, value[i]);
        runStart = i + 1;
        runIsAscii = true;
    }
    appendRun(value.size());
    out += '"';
}

void appendInteger(std::string& out, std::int64_t value) {
    char digits[20];  // "-9223372036854775808"
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// Enough for the usual event, which needs no escapes, in one allocation.
std::size_t estimatedLength(const Event& event) {
    std::size_t length = 3;
    for (const auto& [key, value] : event.members()) {
        const auto* text = std::get_if<std::string>(&value);
        length += key.size() + (text ? text->size() : 20) + 6;
    }
    return length;
}

}  // namespace

std::string formatEventLine(const Event& event) {
    std::string line;
    line.reserve(estimatedLength(event));
    line += '{';
    for (const auto& [key, value] : event.members()) {
        if (line.size() > 1) line += ',';
        appendString(line, key);
        line += ':';
        if (const auto* text = std::get_if<std::string>(&value)) {
            appendString(line, *text);
        } else {
            appendInteger(line, std::get<std::int64_t>(value));
        }
    }
    line += "}\n";
    return line;
}

}  // namespace orbilatch::output

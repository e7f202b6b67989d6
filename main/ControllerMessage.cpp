#include "main/ControllerMessage.h"

#include <array>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "protocol/Members.h"
#include "protocol/Messages.h"
#include "text/Utf8.h"

namespace orbilatch {
namespace {

using nlohmann::json;

// The value of one of the keys we read, typed as the rules need it.
struct Member {
    enum class Kind { absent, text, integral, other };
    Kind kind = Kind::absent;
    std::string text;
    std::int64_t integer = 0;
};

namespace member = protocol::member;
constexpr std::array keys{member::type, member::commandId, member::status, member::errorCode,
                          member::protocolVersion};
enum Key { type, commandId, status, errorCode, protocolVersion };
using Members = std::array<Member, keys.size()>;

ControllerMessage messageFrom(Members& members) {
    if (members[type].kind != Member::Kind::text) return MalformedMessage{};
    if (members[type].text == protocol::message::shutdown) return ShutdownMessage{};
    if (members[type].text != protocol::message::commandAcknowledgement) return UnsupportedMessage{};
    if (members[commandId].kind != Member::Kind::text || members[status].kind != Member::Kind::text)
        return UnsupportedMessage{};
    return AcknowledgementMessage{
        .commandId = std::move(members[commandId].text),
        .status = std::move(members[status].text),
        .errorCode = members[errorCode].kind == Member::Kind::text
                         ? std::optional<std::string>(std::move(members[errorCode].text))
                         : std::nullopt,
        // Anything but an integral number within 64 bits means version 1.
        .protocolVersion = members[protocolVersion].kind == Member::Kind::integral ? members[protocolVersion].integer
                                                                                    : 1,
    };
}

// The members as the JSON library reads them: duplicate keys keep the last.
Member memberOf(const json& value) {
    Member member;
    if (value.is_string()) {
        member.kind = Member::Kind::text;
        member.text = value.get<std::string>();
    } else if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        const bool fits = number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        member.kind = fits ? Member::Kind::integral : Member::Kind::other;
        member.integer = fits ? static_cast<std::int64_t>(number) : 0;
    } else if (value.is_number_integer()) {
        member.kind = Member::Kind::integral;
        member.integer = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        // Integer texts within 64 bits never arrive here; a negative integer
        // text below the range does, and may round to exactly -2^63, so the
        // bound itself counts as outside.
        const double number = value.get<double>();
        constexpr double bound = 9223372036854775808.0;  // 2^63, exact in a double
        const bool integral = std::isfinite(number) && std::trunc(number) == number && number > -bound &&
                              number < bound;
        member.kind = integral ? Member::Kind::integral : Member::Kind::other;
        member.integer = integral ? static_cast<std::int64_t>(number) : 0;
    } else {
        member.kind = Member::Kind::other;
    }
    return member;
}

ControllerMessage readWithJsonLibrary(std::string_view line) {
    const json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!message.is_object()) return MalformedMessage{};
    Members members;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto found = message.find(keys[i]);
        if (found != message.end()) members[i] = memberOf(*found);
    }
    return messageFrom(members);
}

// Nearly every controller line is an object whose members are plain strings
// (no escape, no control character), small integers or literals, and reads
// the same with this scanner as with the JSON library at a fraction of the
// cost. Whatever else the scanner meets, it leaves to the library.
class PlainObjectScanner {
public:
    explicit PlainObjectScanner(std::string_view line) : rest_(line) {}

    std::optional<Members> scan() {
        Members members;
        if (!take('{')) return std::nullopt;
        if (take('}')) return atEnd() ? std::optional(members) : std::nullopt;
        do {
            const auto key = plainString();
            if (!key || !take(':')) return std::nullopt;
            const auto value = scalar();
            if (!value) return std::nullopt;
            for (std::size_t i = 0; i < keys.size(); ++i)
                if (*key == keys[i]) members[i] = *value;
        } while (take(','));
        if (!take('}') || !atEnd()) return std::nullopt;
        return members;
    }

private:
    void skipSpace() {
        while (!rest_.empty() && (rest_[0] == ' ' || rest_[0] == '\t' || rest_[0] == '\n' || rest_[0] == '\r'))
            rest_.remove_prefix(1);
    }
    bool take(char c) {
        skipSpace();
        if (rest_.empty() || rest_[0] != c) return false;
        rest_.remove_prefix(1);
        return true;
    }
    bool atEnd() {
        skipSpace();
        return rest_.empty();
    }
    std::optional<std::string_view> plainString() {
        if (!take('"')) return std::nullopt;
        for (std::size_t i = 0; i < rest_.size(); ++i) {
            const auto c = static_cast<unsigned char>(rest_[i]);
            if (c == '\\' || c < 0x20) return std::nullopt;
            if (c == '"') {
                const std::string_view text = rest_.substr(0, i);
                rest_.remove_prefix(i + 1);
                return text;
            }
        }
        return std::nullopt;
    }
    std::optional<Member> scalar() {
        skipSpace();
        if (rest_.empty()) return std::nullopt;
        if (rest_[0] == '"') {
            const auto text = plainString();
            if (!text) return std::nullopt;
            return Member{.kind = Member::Kind::text, .text = std::string(*text), .integer = 0};
        }
        for (const std::string_view literal : {"true", "false", "null"}) {
            if (rest_.starts_with(literal)) {
                rest_.remove_prefix(literal.size());
                return Member{.kind = Member::Kind::other, .text = {}, .integer = 0};
            }
        }
        return smallInteger();
    }
    // At most 18 digits, so that it cannot overflow; no fraction, no exponent.
    std::optional<Member> smallInteger() {
        constexpr std::size_t mostDigits = 18;
        const bool negative = rest_[0] == '-';
        const std::size_t first = negative ? 1 : 0;
        std::size_t digits = first;
        std::int64_t value = 0;
        while (digits < rest_.size() && rest_[digits] >= '0' && rest_[digits] <= '9') {
            if (digits - first == mostDigits) return std::nullopt;
            value = value * 10 + (rest_[digits] - '0');
            ++digits;
        }
        const std::size_t count = digits - first;
        if (count == 0 || (count > 1 && rest_[first] == '0')) return std::nullopt;
        if (digits < rest_.size() && (rest_[digits] == '.' || rest_[digits] == 'e' || rest_[digits] == 'E'))
            return std::nullopt;
        rest_.remove_prefix(digits);
        return Member{.kind = Member::Kind::integral, .text = {}, .integer = negative ? -value : value};
    }

    std::string_view rest_;
};

}  // namespace

ControllerMessage parseControllerMessage(std::string_view line) {
    if (text::isWellFormedUtf8(line)) {
        if (auto members = PlainObjectScanner(line).scan()) return messageFrom(*members);
    }
    return parseControllerMessageThoroughly(line);
}

ControllerMessage parseControllerMessageThoroughly(std::string_view line) {
    // The JSON library takes a NUL for the end of its input, and no JSON text
    // holds one outside a string, where it would have to be escaped.
    if (line.find('\0') != std::string_view::npos) return MalformedMessage{};
    return readWithJsonLibrary(line);
}

}  // namespace orbilatch

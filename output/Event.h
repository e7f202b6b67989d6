#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/Members.h"

namespace orbilatch::output {

// One report to the controller: "type" first, then the members in the order
// they were added. Values are text or a signed 64-bit integer.
class Event {
public:
    using Value = std::variant<std::string, std::int64_t>;
    using Member = std::pair<std::string, Value>;

    // No event has more than four members.
    explicit Event(std::string_view type) {
        members_.reserve(4);
        members_.emplace_back(protocol::member::type, std::string(type));
    }

    Event& with(std::string_view key, Value value) & {
        members_.emplace_back(key, std::move(value));
        return *this;
    }
    Event&& with(std::string_view key, Value value) && { return std::move(with(key, std::move(value))); }

    const std::vector<Member>& members() const { return members_; }

private:
    std::vector<Member> members_;
};

}  // namespace orbilatch::output

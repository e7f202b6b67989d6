#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbilatch::system {

// Turns a byte stream, fed in arbitrary chunks, into lines: each ends at a line
// feed, which is removed together with a carriage return just before it. Lines
// come back as valid UTF-8, ill-formed sequences replaced by U+FFFD.
class LineSplitter {
public:
    // The lines this chunk completes, in order.
    std::vector<std::string> feed(std::string_view chunk);

    // The unterminated last line, if any bytes are left; call at end of input.
    std::optional<std::string> finish();

private:
    std::string partialLine_;
};

}  // namespace orbilatch::system

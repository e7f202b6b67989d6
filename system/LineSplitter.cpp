#include "system/LineSplitter.h"

#include <utility>

#include "text/Utf8.h"

namespace orbilatch::system {

std::vector<std::string> LineSplitter::feed(std::string_view chunk) {
    std::vector<std::string> lines;
    for (auto lineFeed = chunk.find('\n'); lineFeed != std::string_view::npos; lineFeed = chunk.find('\n')) {
        std::string_view line = chunk.substr(0, lineFeed);
        if (!partialLine_.empty()) {
            partialLine_.append(line);
            line = partialLine_;
        }
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(text::repairUtf8(line));
        partialLine_.clear();
        chunk.remove_prefix(lineFeed + 1);
    }
    partialLine_.append(chunk);
    return lines;
}

std::optional<std::string> LineSplitter::finish() {
    if (partialLine_.empty()) return std::nullopt;
    std::string line = text::repairUtf8(partialLine_);
    partialLine_.clear();
    return line;
}

}  // namespace orbilatch::system

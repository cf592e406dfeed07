#include "line_framer.h"

void LineFramer::Feed(std::string_view bytes, std::deque<Item> &out)
{
    while (!bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline);
        if (!discarding_) {
            if (partial_.size() + piece.size() > limit_) {
                out.push_back({true, {}});
                partial_.clear();
                discarding_ = true;
            } else {
                partial_.append(piece);
            }
        }
        if (newline == std::string_view::npos) {
            return;
        }
        if (!discarding_) {
            if (!partial_.empty() && partial_.back() == '\r') {
                partial_.pop_back();
            }
            out.push_back({false, std::move(partial_)});
        }
        partial_.clear();
        discarding_ = false;
        bytes.remove_prefix(newline + 1);
    }
}

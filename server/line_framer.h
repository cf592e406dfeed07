// Cuts a client's byte stream into messages: each ends with a newline (a
// carriage return before it is dropped). A message longer than the limit
// is not kept: it is reported once, when it passes the limit, and what
// follows is discarded up to its newline, so that a client's input never
// holds more than the limit.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

class LineFramer {
public:
    static constexpr std::size_t kDefaultLimit = 64 * 1024;

    struct Item {
        bool overrun = false;  // a message too long, discarded
        std::string message;   // without its newline
        bool operator==(const Item &) const = default;
    };

    explicit LineFramer(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    // Takes the next bytes of the stream; finished messages and overruns
    // are appended to `out` in the order they happened.
    void Feed(std::string_view bytes, std::deque<Item> &out);

    // The start of a message whose newline has not come (empty while one is
    // being discarded).
    const std::string &Partial() const { return partial_; }

private:
    std::size_t limit_;
    std::string partial_;
    bool discarding_ = false;
};

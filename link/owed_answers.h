// The requests sent to one converter whose answers have not been read, since
// its stream of answers was last known to be in step with the requests.
//
// The generator answers requests in order, one frame each, but an answer may
// come after its exchange has given up, or never. While answers are owed, a
// frame that comes in is matched by its command code against the owed
// requests, oldest first: it settles the oldest request with its code, and,
// since answers keep their order, shows that the answers of the requests
// before that one were lost. A frame whose code is no request's (a device's
// error report) settles the oldest request. An exchange has read its own
// answer when the frame settles its request, the last one sent: then nothing
// is owed any more and the stream is in step again.
//
// A request whose answer has not come for kLifetime is taken as answered
// never (a device switched off and on again forgets what it was asked): far
// more than the slowest thing the generator does. Fixed storage: nothing here
// allocates.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

// Whether `code` is the code of a request that this library sends.
bool IsRequestCode(std::uint8_t code);

class OwedAnswers {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kCapacity = 64;
    static constexpr Clock::duration kLifetime = std::chrono::seconds(2);

    // What a frame that came in was.
    enum class Match {
        Answer,       // the answer to the last request sent; in step again
        Stale,        // the late answer of an earlier request
        Unexplained,  // a request code with no request of it owed
    };

    // Nothing is owed: the next frame answers the next request.
    bool InStep() const { return count_ == 0; }
    bool Owes(std::uint8_t code) const;
    bool Full() const { return count_ == kCapacity; }

    // Forgets the requests sent kLifetime or longer before `now`.
    void Expire(Clock::time_point now);
    // A request with `code` went out at `now` (or may have: a failed write
    // can still have put it on the line). The caller keeps it from Full().
    void Sent(std::uint8_t code, Clock::time_point now);
    // A whole frame with `code` came in.
    Match Arrived(std::uint8_t code);

private:
    struct Entry {
        std::uint8_t code = 0;
        Clock::time_point sent;
    };

    // Drops the first `n` entries.
    void Settle(std::size_t n);

    std::array<Entry, kCapacity> entries_{};  // oldest first
    std::size_t count_ = 0;
};

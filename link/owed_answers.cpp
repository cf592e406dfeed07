// The owed answers of one converter.
#include "owed_answers.h"

#include <algorithm>

#include "px418_protocol.h"

bool IsRequestCode(std::uint8_t code)
{
    switch (code) {
    case PX418_CMD_INFO:
    case PX418_CMD_SET_MODE:
    case PX418_CMD_GET_MODE:
    case PX418_CMD_SET_PAR:
    case PX418_CMD_GET_PAR:
    case PX418_CMD_GET_SEL_PAR:
        return true;
    default:
        return false;
    }
}

bool OwedAnswers::Owes(std::uint8_t code) const
{
    return std::any_of(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(count_),
                       [code](const Entry &entry) { return entry.code == code; });
}

void OwedAnswers::Expire(Clock::time_point now)
{
    // Requests are kept in the order they were sent, so the expired ones
    // lead.
    std::size_t expired = 0;
    while (expired < count_ && now - entries_[expired].sent >= kLifetime) {
        ++expired;
    }
    Settle(expired);
}

void OwedAnswers::Sent(std::uint8_t code, Clock::time_point now)
{
    if (Full()) {
        return;
    }
    entries_[count_++] = Entry{code, now};
}

OwedAnswers::Match OwedAnswers::Arrived(std::uint8_t code)
{
    if (count_ == 0) {
        return Match::Unexplained;
    }
    std::size_t settled = 0;  // the request the frame answers
    if (IsRequestCode(code)) {
        while (settled < count_ && entries_[settled].code != code) {
            ++settled;
        }
        if (settled == count_) {
            return Match::Unexplained;
        }
    }
    Settle(settled + 1);
    return count_ == 0 ? Match::Answer : Match::Stale;
}

void OwedAnswers::Settle(std::size_t n)
{
    std::copy(entries_.begin() + static_cast<std::ptrdiff_t>(n),
              entries_.begin() + static_cast<std::ptrdiff_t>(count_), entries_.begin());
    count_ -= n;
}

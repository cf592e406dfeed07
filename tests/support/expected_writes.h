// Parameter writes as a test expects them: group, number as sent (flag bits
// included) and value, compared and printed as (group, 0xnumber, value).
#pragma once

#include <ostream>
#include <vector>

#include "virtual/virtual_generator.h"

struct Write {
    int group = 0;
    int number = 0;
    int value = 0;
    bool operator==(const Write &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Write &w)
{
    return os << "(" << w.group << ", 0x" << std::hex << w.number << std::dec << ", " << w.value
              << ")";
}

// The writes a virtual generator accepted, oldest first.
inline std::vector<Write> WritesTakenBy(const px418virtual::VirtualGenerator &generator)
{
    std::vector<Write> out;
    for (const auto &w : generator.ParamWrites()) {
        out.push_back({w.group, w.number, w.value});
    }
    return out;
}

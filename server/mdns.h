// Advertises the server on the local network as _scpi-raw._tcp through
// avahi-daemon, as LXI instruments are found. When the daemon is not
// running (or the program was built without Avahi) it says so in the log
// and the server goes on without it; a daemon that starts later is used
// then.
#pragma once

#include <cstdint>
#include <memory>

#include "device_owner.h"

class MdnsAdvert {
public:
    explicit MdnsAdvert(LogFn log);
    MdnsAdvert(const MdnsAdvert &) = delete;
    MdnsAdvert &operator=(const MdnsAdvert &) = delete;
    ~MdnsAdvert();

    void Start(std::uint16_t port);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

#include "mdns.h"

#include <string>

#include <QString>
#include <QSysInfo>

#ifdef PX418_WITH_AVAHI
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#endif

namespace {

constexpr char kServiceType[] = "_scpi-raw._tcp";

}  // namespace

#ifdef PX418_WITH_AVAHI

// Avahi calls back on its own thread (and from avahi_client_new on the
// caller's); the log is safe from any thread.
struct MdnsAdvert::Impl {
    LogFn log;
    std::uint16_t port = 0;
    char *name = nullptr;
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;

    void Log(const std::string &line) const { log("mDNS: " + line); }

    void Rename()
    {
        char *next = avahi_alternative_service_name(name);
        avahi_free(name);
        name = next;
    }

    static void GroupChanged(AvahiEntryGroup *g, AvahiEntryGroupState state, void *data)
    {
        auto *d = static_cast<Impl *>(data);
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            d->Log(std::string("advertised as '") + d->name + "' (" + kServiceType + ", port "
                   + std::to_string(d->port) + ")");
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            d->Rename();
            d->Register(avahi_entry_group_get_client(g));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            d->Log(std::string("advertising failed: ")
                   + avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))));
            break;
        default:
            break;
        }
    }

    void Register(AvahiClient *c)
    {
        if (!group) {
            group = avahi_entry_group_new(c, GroupChanged, this);
            if (!group) {
                Log(std::string("cannot advertise: ") + avahi_strerror(avahi_client_errno(c)));
                return;
            }
        }
        if (!avahi_entry_group_is_empty(group)) {
            return;
        }
        for (;;) {
            const int ret = avahi_entry_group_add_service(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0), name,
                kServiceType, nullptr, nullptr, port, nullptr);
            if (ret == AVAHI_ERR_COLLISION) {
                Rename();
                avahi_entry_group_reset(group);
                continue;
            }
            if (ret < 0) {
                Log(std::string("cannot advertise: ") + avahi_strerror(ret));
                return;
            }
            break;
        }
        avahi_entry_group_commit(group);
    }

    static void ClientChanged(AvahiClient *c, AvahiClientState state, void *data)
    {
        auto *d = static_cast<Impl *>(data);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            d->Register(c);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (d->group) {
                avahi_entry_group_reset(d->group);
            }
            break;
        case AVAHI_CLIENT_CONNECTING:
            d->Log("avahi-daemon is not running; the server is advertised once it starts");
            break;
        case AVAHI_CLIENT_FAILURE:
            d->Log(std::string("avahi-daemon failed, the server is no longer advertised: ")
                   + avahi_strerror(avahi_client_errno(c)));
            break;
        }
    }
};

MdnsAdvert::MdnsAdvert(LogFn log) : impl_(std::make_unique<Impl>())
{
    impl_->log = std::move(log);
}

MdnsAdvert::~MdnsAdvert()
{
    if (impl_->poll) {
        avahi_threaded_poll_stop(impl_->poll);
    }
    if (impl_->client) {
        avahi_client_free(impl_->client);  // with its entry group
    }
    if (impl_->poll) {
        avahi_threaded_poll_free(impl_->poll);
    }
    avahi_free(impl_->name);
}

void MdnsAdvert::Start(std::uint16_t port)
{
    Impl &d = *impl_;
    d.port = port;
    const std::string name = "PX-418 on " + QSysInfo::machineHostName().toStdString();
    d.name = avahi_strdup(name.c_str());
    d.poll = avahi_threaded_poll_new();
    if (!d.poll) {
        d.Log("cannot advertise: out of memory");
        return;
    }
    int error = 0;
    // NO_FAIL: without the daemon the client waits for it rather than fail.
    d.client = avahi_client_new(avahi_threaded_poll_get(d.poll), AVAHI_CLIENT_NO_FAIL,
                                Impl::ClientChanged, &d, &error);
    if (!d.client) {
        d.Log(std::string("not advertised, avahi-daemon cannot be reached: ")
              + avahi_strerror(error));
        return;
    }
    avahi_threaded_poll_start(d.poll);
}

#else

struct MdnsAdvert::Impl {
    LogFn log;
};

MdnsAdvert::MdnsAdvert(LogFn log) : impl_(std::make_unique<Impl>())
{
    impl_->log = std::move(log);
}

MdnsAdvert::~MdnsAdvert() = default;

void MdnsAdvert::Start(std::uint16_t)
{
    impl_->log(std::string("mDNS: this px418d was built without Avahi; not advertised as ")
               + kServiceType);
}

#endif

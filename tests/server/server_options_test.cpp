// px418d's command line, and which clients the allow list lets in.
#include "server_options.h"

#include <gtest/gtest.h>

namespace {

ServerArgs Parse(std::vector<std::string> args)
{
    return ParseServerArgs(args);
}

}  // namespace

TEST(ServerOptionsTest, ListenAddressesAndLimitsAreRead)
{
    ServerArgs a = Parse({});
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.options.listen.size(), 1u);
    EXPECT_EQ(EndpointText(a.options.listen[0].address, a.options.listen[0].port),
              "127.0.0.1:5025");
    EXPECT_EQ(a.options.maxClients, 8);

    a = Parse({"--listen", "0.0.0.0:0", "--listen", "[::1]:5026", "--listen", "*:7",
               "--max-clients", "2", "--mdns"});
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.options.listen.size(), 3u);
    EXPECT_EQ(EndpointText(a.options.listen[0].address, a.options.listen[0].port), "0.0.0.0:0");
    EXPECT_EQ(EndpointText(a.options.listen[1].address, a.options.listen[1].port), "[::1]:5026");
    EXPECT_EQ(a.options.listen[2].address, QHostAddress(QHostAddress::Any));
    EXPECT_EQ(a.options.maxClients, 2);
    EXPECT_TRUE(a.options.mdns);

    for (const std::vector<std::string> &bad :
         std::vector<std::vector<std::string>>{{"--listen"},
                                               {"--listen", "127.0.0.1"},
                                               {"--listen", "127.0.0.1:65536"},
                                               {"--listen", "::1:5025"},
                                               {"--listen", "[127.0.0.1]:5025"},
                                               {"--listen", "host.example:5025"},
                                               {"--allow", "10.0.0.0/33"},
                                               {"--allow", "ten"},
                                               {"--max-clients", "0"},
                                               {"--max-clients", "8x"},
                                               {"--verbose"}}) {
        SCOPED_TRACE(bad.front() + (bad.size() > 1 ? " " + bad[1] : ""));
        const ServerArgs r = Parse(bad);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(ServerOptionsTest, TheAllowListLetsInItsSubnetsWhateverTheSocketsFamily)
{
    ServerArgs a =
        Parse({"--allow", "192.168.1.0/24", "--allow", "10.1.2.3", "--allow", "fd00::/8"});
    ASSERT_TRUE(a.ok) << a.error;
    struct Case {
        const char *peer;
        bool allowed;
    };
    const Case cases[] = {
        {"192.168.1.77", true}, {"::ffff:192.168.1.77", true}, {"192.168.2.1", false},
        {"10.1.2.3", true},     {"10.1.2.4", false},           {"fd12::1", true},
        {"fe80::1", false},     {"127.0.0.1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.peer);
        EXPECT_EQ(Allowed(a.options, QHostAddress(QString::fromLatin1(c.peer))), c.allowed);
    }
    EXPECT_TRUE(Allowed(Parse({}).options, QHostAddress(QStringLiteral("203.0.113.9"))));
}

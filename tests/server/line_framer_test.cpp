// A client's bytes cut into messages, however they arrive, and a message
// over the limit reported once and discarded up to its newline.
#include "line_framer.h"

#include <gtest/gtest.h>

using Item = LineFramer::Item;

TEST(LineFramerTest, MessagesEndWithANewlineWhateverTheChunks)
{
    const std::string stream = "*IDN?\nFREQ 60\r\n\nPHAS";
    const std::deque<Item> expected = {{false, "*IDN?"}, {false, "FREQ 60"}, {false, ""}};
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        SCOPED_TRACE(chunk);
        LineFramer framer;
        std::deque<Item> out;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            framer.Feed(std::string_view(stream).substr(at, chunk), out);
        }
        EXPECT_EQ(out, expected);
        EXPECT_EQ(framer.Partial(), "PHAS");
    }
}

TEST(LineFramerTest, AMessageOverTheLimitIsReportedOnceAndDiscardedToItsNewline)
{
    LineFramer framer(8);
    std::deque<Item> out;
    framer.Feed("12345678\n", out);  // exactly the limit
    framer.Feed("123456789", out);   // over it: reported now
    EXPECT_EQ(out, (std::deque<Item>{{false, "12345678"}, {true, ""}}));
    EXPECT_EQ(framer.Partial(), "");
    framer.Feed(std::string(100, 'x'), out);
    framer.Feed("yy\n*OPC?\n", out);
    EXPECT_EQ(out, (std::deque<Item>{{false, "12345678"}, {true, ""}, {false, "*OPC?"}}));
}

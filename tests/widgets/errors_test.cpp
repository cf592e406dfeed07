// The error reporter: the full-stop rule and the texts of the different
// kinds of exception.
#include "errors.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(WithFullStopTest, AddsAStopOnlyAfterCharactersSortingAfterIt)
{
    const struct {
        const char *text;
        const char *expected;
    } cases[] = {
        {"", ""},
        {"device not responding", "device not responding."},
        {"invalid parameters.", "invalid parameters."},
        {"Stop!", "Stop!"},
        {"error 42", "error 42."},
        {"(see above)", "(see above)"},
        {"trailing space ", "trailing space "},
        {"path/", "path/."},
        {"a,", "a,"},
        {"a-", "a-"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(WithFullStop(QString::fromLatin1(c.text)), QString::fromLatin1(c.expected))
            << '"' << c.text << '"';
    }
    EXPECT_EQ(WithFullStop(QStringLiteral("Fehler: ungültig")),
              QStringLiteral("Fehler: ungültig."));
}

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = SetErrorPresenter([this](const ErrorBox &box) { boxes.push_back(box); });
    }
    void TearDown() override { SetErrorPresenter(std::move(previous_)); }

    std::vector<ErrorBox> boxes;

private:
    ErrorPresenter previous_;
};

TEST_F(ReportTest, ShowsEachKindOfExceptionUnderTheApplicationTitle)
{
    Guarded([] { throw Exception(QStringLiteral("Set parameter error: invalid parameters.")); });
    Guarded([] { throw std::runtime_error("out of range"); });
    Guarded([] { throw 42; });
    Guarded([] { throw Exception(QString()); });
    ASSERT_EQ(boxes.size(), 4u);
    for (const ErrorBox &box : boxes) {
        EXPECT_EQ(box.caption, "PX-418");
    }
    EXPECT_EQ(boxes[0].text, "Set parameter error: invalid parameters.");
    EXPECT_EQ(boxes[1].text, "out of range.");
    EXPECT_EQ(boxes[2].text, "");
    EXPECT_EQ(boxes[3].text, "");
}

TEST_F(ReportTest, CaptionFollowsTheApplicationTitle)
{
    SetApplicationTitle(QStringLiteral("Other"));
    Guarded([] { throw Exception(QStringLiteral("x")); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Other");
    EXPECT_EQ(boxes[0].text, "x.");
    EXPECT_EQ(ApplicationTitle(), "Other");
    SetApplicationTitle(QStringLiteral("PX-418"));
}

TEST_F(ReportTest, ExceptionCarriesItsTextAsUtf8)
{
    const Exception e(QStringLiteral("Größe"), 12);
    EXPECT_EQ(e.Message(), QStringLiteral("Größe"));
    EXPECT_EQ(e.HelpContext(), 12);
    EXPECT_STREQ(e.what(), "Gr\xc3\xb6\xc3\x9f"
                           "e");
}

TEST(ReportPresenterTest, AFailingPresenterDoesNotLetTheExceptionOut)
{
    ErrorPresenter previous =
        SetErrorPresenter([](const ErrorBox &) { throw std::runtime_error("no"); });
    Guarded([] { throw Exception(QStringLiteral("x")); });
    ErrorPresenter mine = SetErrorPresenter(std::move(previous));
    EXPECT_TRUE(static_cast<bool>(mine)) << "the presenter replaced is handed back";
}

}  // namespace

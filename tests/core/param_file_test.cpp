// The table and the program's settings as sectioned text.
#include "param_file.h"

#include <optional>

#include <QRect>
#include <gtest/gtest.h>

namespace {

// Every entry in range, the range ends among them.
ParamTable Sample()
{
    return {1, 1500, 100, 500, 0, 2000, -900, 600, 1, 3000000, 3600, 0};
}

std::optional<QString> MessageOf(const SectionedText &file, const QString &path)
{
    try {
        ReadCheckedParamTable(file, path);
    } catch (const Exception &e) {
        return e.Message();
    }
    return std::nullopt;
}

}  // namespace

TEST(ParamFileTest, ATableMakesTheRoundTripInDeviceUnits)
{
    SectionedText file;
    WriteParamTable(file, Sample());
    EXPECT_EQ(file.Serialize(), QByteArray("[OUT A]\r\nM=1\r\nF=1500\r\nP=100\r\nA=500\r\n\r\n"
                                           "[OUT B]\r\nM=0\r\nF=2000\r\nP=-900\r\nA=600\r\n\r\n"
                                           "[OUT C]\r\nM=1\r\nF=3000000\r\nP=3600\r\nA=0\r\n\r\n"));
    EXPECT_EQ(ReadParamTable(SectionedText::Parse(file.Serialize())), Sample());
}

TEST(ParamFileTest, MissingOrMalformedKeysTakeTheirDefaults)
{
    const ParamTable defaults = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(DefaultParamTable(), defaults);
    EXPECT_EQ(ReadParamTable(SectionedText()), defaults);

    const SectionedText file = SectionedText::Parse("[out b]\r\n f = 7 \r\nM=x\r\nP=-2.5\r\n"
                                                    "[OUT C]\r\nA=500.9\r\nF=1e3\r\nP=\r\n");
    const ParamTable table = ReadParamTable(file);
    const ParamTable expected = {0, 1, 0, 1, 0, 7, -2, 1, 0, 1000, 0, 500};
    EXPECT_EQ(table, expected);
}

TEST(ParamFileTest, WritingKeepsOtherSectionsAndReplacesKeysInPlace)
{
    SectionedText file = SectionedText::Parse("[General]\r\nLeft=5\r\n"
                                              "[OUT A]\r\nX=1\r\nF=9\r\nF=10\r\n");
    WriteParamTable(file, Sample());
    const QByteArray text = file.Serialize();
    EXPECT_TRUE(text.startsWith("[General]\r\nLeft=5\r\n\r\n[OUT A]\r\nX=1\r\nF=9\r\nF=1500\r\n"
                                "M=1\r\nP=100\r\nA=500\r\n"));
}

TEST(ParamFileTest, ProgramSettingsReadWithTheirDefaultsAndWriteInOrder)
{
    ProgramSettings defaults;
    defaults.left = 443;
    defaults.top = 419;
    const ProgramSettings fresh = ReadProgramSettings(SectionedText(), defaults);
    EXPECT_EQ(fresh.left, 443);
    EXPECT_EQ(fresh.top, 419);
    EXPECT_FALSE(fresh.lock || fresh.mute || fresh.review);
    EXPECT_TRUE(fresh.autoRecall && fresh.rms);

    const SectionedText file = SectionedText::Parse(
        "[General]\r\nLeft=0x20\r\nTop=$20\r\n[Mode]\r\nLock=1\r\nReview=2\r\nMute=yes\r\n"
        "Autorecall=0\r\nRMS=0\r\n");
    const ProgramSettings read = ReadProgramSettings(file, defaults);
    EXPECT_EQ(read.left, 32);
    EXPECT_EQ(read.top, 32);
    EXPECT_TRUE(read.lock);
    EXPECT_TRUE(read.review);
    EXPECT_FALSE(read.mute);  // "yes" is no integer: the default
    EXPECT_FALSE(read.autoRecall);
    EXPECT_FALSE(read.rms);

    SectionedText out;
    WriteProgramSettings(out, read);
    WriteParamTable(out, DefaultParamTable());
    EXPECT_EQ(out.Serialize(),
              QByteArray("[General]\r\nLeft=32\r\nTop=32\r\n\r\n"
                         "[Mode]\r\nLock=1\r\nMute=0\r\nReview=1\r\nAutorecall=0\r\nRMS=0\r\n\r\n"
                         "[OUT A]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n"
                         "[OUT B]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n"
                         "[OUT C]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n"));
}

TEST(ParamFileTest, ViewKeysHaveASectionOfTheirOwn)
{
    const ViewSettings defaults{false, 1020, 404, 680, 640};
    const ViewSettings fresh = ReadViewSettings(SectionedText(), defaults);
    EXPECT_FALSE(fresh.phasors);
    EXPECT_EQ(QRect(fresh.left, fresh.top, fresh.width, fresh.height), QRect(1020, 404, 680, 640));

    // A size below 1 and a malformed key take their defaults; the others
    // are read.
    const SectionedText file = SectionedText::Parse(
        "[view]\r\nPhasors=1\r\nPhasorsLeft=-20\r\nPhasorsTop=x\r\nPhasorsWidth=0\r\n"
        "PhasorsHeight=500\r\n");
    const ViewSettings read = ReadViewSettings(file, defaults);
    EXPECT_TRUE(read.phasors);
    EXPECT_EQ(QRect(read.left, read.top, read.width, read.height), QRect(-20, 404, 680, 500));

    // Written into a settings file: the other sections keep their keys and
    // places, and the view's section comes after them.
    SectionedText settings = SectionedText::Parse("[General]\r\nLeft=1\r\n[Mode]\r\nRMS=0\r\n"
                                                  "[OUT A]\r\nF=5\r\n");
    WriteViewSettings(settings, ViewSettings{true, 10, 20, 600, 500});
    EXPECT_EQ(settings.Serialize(),
              QByteArray("[General]\r\nLeft=1\r\n\r\n[Mode]\r\nRMS=0\r\n\r\n[OUT A]\r\nF=5\r\n\r\n"
                         "[View]\r\nPhasors=1\r\nPhasorsLeft=10\r\nPhasorsTop=20\r\n"
                         "PhasorsWidth=600\r\nPhasorsHeight=500\r\n\r\n"));
    EXPECT_EQ(ReadProgramSettings(settings, ProgramSettings{}).left, 1);
    EXPECT_EQ(ReadParamTable(settings)[ParamIndex(0, PX418_OUT_FREQUENCY)], 5);
}

TEST(ParamFileTest, RefusedValuesTakeTheirDefaultsOrRefuseTheOpenedFile)
{
    struct Case {
        const char *entry;    // one line in [OUT B]
        std::int32_t read;    // what ReadParamTable makes of it
        const char *refusal;  // the entry and range the refusal names, or null
    };
    const Case cases[] = {
        {"M=1", 1, nullptr},
        {"M=2", 0, "M=2 in [OUT B] is outside the allowed range 0 to 1"},
        {"M=-1", 0, "M=-1 in [OUT B] is outside the allowed range 0 to 1"},
        {"M=$FFFFFFFF", 0, "M=$FFFFFFFF in [OUT B] is outside the allowed range 0 to 1"},
        {"M=99999999999", 0, "M=99999999999 in [OUT B] is outside the allowed range 0 to 1"},
        {"F=3000000", 3000000, nullptr},
        {"F=3000000.9", 3000000, nullptr},  // cut toward zero first
        {"F=3000001", 1, "F=3000001 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"F=5000000", 1, "F=5000000 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"F=-0.5", 0, nullptr},
        {"F=-1", 1, "F=-1 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"F=1e300", 1, "F=1e300 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"F=-1e999", 1, "F=-1e999 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"P=-3600", -3600, nullptr},
        {"P=3601", 0, "P=3601 in [OUT B] is outside the allowed range -3600 to 3600"},
        {"A=1000", 1000, nullptr},
        {"A=-500", 1, "A=-500 in [OUT B] is outside the allowed range 0 to 1000"},
        {"A=100000000000000000000000000000000", 1,
         "A=100000000000000000000000... in [OUT B] is outside the allowed range 0 to 1000"},
        // Of the wrong form: a typing error must not send the default.
        {"A=lots", 1, "A=lots in [OUT B] is not a number"},
        {"F=5O000", 1, "F=5O000 in [OUT B] is not a number"},
        {"F=0x10", 1, "F=0x10 in [OUT B] is not a number"},  // hex is for integers
        {"F=1000 ;c", 1, "F=1000 ;c in [OUT B] is not a number"},
        {"F=1500,5", 1, "F=1500,5 in [OUT B] is not a number (the decimal separator is '.')"},
        {"M=1.0", 0, "M=1.0 in [OUT B] is not an integer"},
        {"M=0x1", 1, nullptr},
        {"P=", 0, nullptr},  // empty: the default, no refusal
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entry);
        const SectionedText file =
            SectionedText::Parse(QByteArray("[OUT B]\r\n") + c.entry + "\r\n");
        const int quantity = QString("MFPA").indexOf(QChar(c.entry[0]));
        EXPECT_EQ(ReadParamTable(file)[ParamIndex(1, quantity)], c.read);
        const std::optional<QString> message = MessageOf(file, "/data/set.par");
        if (c.refusal) {
            EXPECT_EQ(message,
                      "The file /data/set.par cannot be loaded: " + QString(c.refusal) + ".");
        } else {
            EXPECT_EQ(message, std::nullopt);
        }
    }
}

TEST(ParamFileTest, AFileWithoutChannelSectionsIsNoParameterFile)
{
    const char *const refused[] = {
        "",
        "\x89PNG\r\n\x1a\n\x01\x02[OUT]",
        "F=1500\r\nA=100\r\n",
        "[General]\r\nLeft=1\r\n[OUT D]\r\nF=1\r\n",
    };
    for (const char *text : refused) {
        SCOPED_TRACE(text);
        const SectionedText file = SectionedText::Parse(text);
        EXPECT_FALSE(HoldsParamSections(file));
        EXPECT_EQ(MessageOf(file, "/data/x.par"), QString("/data/x.par is not a parameter file."));
    }
    // One channel section is enough; an empty one loads as the defaults.
    const SectionedText one = SectionedText::Parse("[out c]\r\n");
    EXPECT_TRUE(HoldsParamSections(one));
    EXPECT_EQ(MessageOf(one, "/data/x.par"), std::nullopt);
    EXPECT_EQ(ReadCheckedParamTable(one, "/data/x.par"), DefaultParamTable());
}

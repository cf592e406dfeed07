// The table and the program's settings as sectioned text.
#include "param_file.h"

#include <gtest/gtest.h>

namespace {

ParamTable Sample()
{
    return {1, 1500, 100, 500, 0, 2000, -900, 600, 7, 3000000, 3600, -5};
}

}  // namespace

TEST(ParamFileTest, ATableMakesTheRoundTripInDeviceUnits)
{
    SectionedText file;
    WriteParamTable(file, Sample());
    EXPECT_EQ(file.Serialize(),
              QByteArray("[OUT A]\r\nM=1\r\nF=1500\r\nP=100\r\nA=500\r\n\r\n"
                         "[OUT B]\r\nM=0\r\nF=2000\r\nP=-900\r\nA=600\r\n\r\n"
                         "[OUT C]\r\nM=7\r\nF=3000000\r\nP=3600\r\nA=-5\r\n\r\n"));
    EXPECT_EQ(ReadParamTable(SectionedText::Parse(file.Serialize())), Sample());
}

TEST(ParamFileTest, MissingOrMalformedKeysTakeTheirDefaults)
{
    const ParamTable defaults = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(DefaultParamTable(), defaults);
    EXPECT_EQ(ReadParamTable(SectionedText()), defaults);

    const SectionedText file = SectionedText::Parse("[out b]\r\n f = 7 \r\nM=x\r\nP=-2.5\r\n"
                                                    "[OUT C]\r\nA=1500.9\r\nF=1e3\r\nP=\r\n");
    const ParamTable table = ReadParamTable(file);
    const ParamTable expected = {0, 1, 0, 1, 0, 7, -2, 1, 0, 1000, 0, 1500};
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

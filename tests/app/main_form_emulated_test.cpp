// The main window with the default converter driver (libftdi1) on emulated
// FT232R converters: the generator behind one of them, a foreign device
// behind another. What the window shows and sends travels through libftdi1
// and libusb's calls as with real converters.
#include <cstdlib>

#include "emulated_bus.h"
#include "main_window_fixture.h"

namespace {

class MainWindowEmulatedTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        ASSERT_TRUE(emulated::EmulationInUse()) << emulated::LibusbInUse();
        // The driver a user gets: PX418USB_DRIVER unset.
        unsetenv("PX418USB_DRIVER");
        D2xxInstall(nullptr);
        usbemu::Reset();
        foreign = emulated::AddForeign(emulated::At(1));
        converter = emulated::AddGenerator(TheVirtualGenerator(), emulated::At(2));
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        usbemu::Reset();
    }

    int foreign = -1;
    int converter = -1;
};

TEST_F(MainWindowEmulatedTest, GoesOnLineShowsSendsAndFollowsTheConverterOutAndBackIn)
{
    TheVirtualGenerator().TurnKnob(0, 1, 1234567);  // A at 1234.567 Hz
    TheVirtualGenerator().TurnKnob(1, 3, 250);      // B at 2.5 V
    Create();
    Tick();
    ASSERT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(form->feFa->text(), QStringLiteral("1234.567"));
    EXPECT_EQ(form->feAb->text(), QStringLiteral("1.77"));  // RMS of 2.5 V
    EXPECT_TRUE(usbemu::State(converter).claimed);
    EXPECT_EQ(usbemu::State(converter).line.baud, 38400);

    TheVirtualGenerator().ClearLog();
    TypeEnter(form->feFa, QStringLiteral("440"));
    // Entering the field re-sends its value (with a beep), Enter the new one.
    EXPECT_EQ(Writes(), (std::vector<Write>{{0, 0xC1, 1234567}, {0, 0x81, 440000}}));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 440000);

    usbemu::Unplug(converter);
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));

    usbemu::Plug(converter);
    TheVirtualGenerator().ClearLog();
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(form->feFa->text(), QStringLiteral("440.000")) << "recalled from the device";
    // The foreign device was asked once, at the first search, and never again.
    EXPECT_EQ(usbemu::GetCounters(foreign).bulkOutTransfers, 1);
}

}  // namespace

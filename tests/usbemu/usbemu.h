// Emulated FT232R converters behind a stand-in for libusb-1.0.
//
// The library that carries this header is named, and has the SONAME,
// libusb-1.0.so.0. A program that links it (or finds it first on its
// library path) gets it instead of the system's libusb, and so does
// libftdi1, which then drives the converters held here as if they were on
// a USB bus. It exports the part of the libusb-1.0 C interface that
// libftdi1 and a driver built on it call, plus the functions below, which
// tests use to set the converters up, break them and read what happened to
// them.
//
// Each converter is a full-speed device with one interface and the bulk
// endpoints 0x81 (in) and 0x02 (out), 64 bytes a packet. It answers FTDI's
// vendor requests, paces the bytes on its serial lines at the baud rate
// set, and on the in endpoint sends packets that start with the two modem
// status bytes and carry up to 62 data bytes: a packet goes when 62 bytes
// are waiting or when the latency timer (16 ms until set) runs out since
// the last one, so a read with nothing to read gets a bare status packet
// after one latency period (unless the converter is set up to stay quiet
// while idle). On the serial side sits a peer, a function
// that gets the bytes the converter sent and returns the bytes it answers.
//
// Time is the real (steady) clock: the emulation sleeps as the wire would.
// Only the serial wire and the latency timer take time; USB transfers
// themselves take none.
//
// The kernel's serial driver starts bound to each converter. It leaves on
// libusb_detach_kernel_driver or on a claim with auto-detach on; it comes
// back on libusb_attach_kernel_driver, or on libusb_release_interface with
// auto-detach on. libusb_close alone gives up the claim but leaves the
// driver detached, as libusb on Linux does.
//
// Not emulated: USB bus time (control and bulk transfers take none), the
// converter's 256-byte receive buffer overrunning, flow control and break
// (stored, without effect), framing (the peer gets bytes whatever the data
// bits and parity), EEPROM requests (they stall), asynchronous transfers
// other than bulk ones, and libusb's event handling by a synchronous
// transfer: callbacks of asynchronous transfers and hot-plug events run
// only inside the libusb_handle_events* calls of their context.
//
// Every function is thread-safe. Peers run under the emulation's lock, on
// whichever thread moves the wire along (a thread of the emulation's own or
// a thread in a libusb call), so a peer must not call back into this
// library. A peer must stay valid until it is replaced or Reset() runs.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace usbemu {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The serial device on a converter's lines: receives the bytes that went
// out on the converter's TX line and returns the bytes it sends back on the
// RX line. It is called once for each bulk-out transfer, when the last of
// its bytes is on the wire (a purge may cut that short to the bytes already
// sent).
using Peer = std::function<Bytes(const std::uint8_t *bytes, std::size_t count)>;

struct ConverterSetup {
    std::uint16_t vendorId = 0x0403;
    std::uint16_t productId = 0x6001;
    std::uint16_t bcdDevice = 0x0600;  // FT232R
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A0000001";  // empty: the device has no serial string
    std::uint8_t bus = 1;
    std::vector<std::uint8_t> ports = {1};  // the port path from the root hub, 1 to 7 ports
    std::uint8_t address = 0;               // 0: the next free one on the bus
    std::array<std::uint8_t, 2> modemStatus = {0x01, 0x60};  // the status bytes of every in packet
    // false: the converter sends no packet while it has no data byte, so a
    // read with nothing to read ends by its timeout (LIBUSB_ERROR_TIMEOUT),
    // as some emulated and clone converters do.
    bool idleStatusPackets = true;
};

// The serial settings as the converter's vendor requests left them.
struct LineSettings {
    int baud = 9600;  // decoded from the divisor
    std::uint16_t divisorValue = 0x4138;
    std::uint16_t divisorIndex = 0;
    int latencyMs = 16;
    int dataBits = 8;
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0: 1, 1: 1.5, 2: 2
    bool breakOn = false;
    bool dtr = false;
    bool rts = false;
    std::uint16_t flowControl = 0;  // index high byte: 1 RTS/CTS, 2 DTR/DSR, 4 XON/XOFF
    std::uint16_t xonXoff = 0;      // the XON (low) and XOFF (high) characters
    std::uint16_t eventChar = 0;    // the request's value: character, bit 8 enables
    std::uint16_t errorChar = 0;
    std::uint16_t bitmode = 0;  // the request's value: mask (low), mode (high)
};

struct ConverterState {
    bool plugged = false;
    std::uint8_t address = 0;         // USB address; a new one each time it is plugged in
    bool kernelDriverActive = false;  // the kernel's serial driver holds the interface
    bool busy = false;                // ... and another program holds its tty open
    bool claimed = false;             // a libusb handle has claimed the interface
    int openHandles = 0;
    LineSettings line;
    std::size_t txPending = 0;  // bytes written that have not reached the peer
    std::size_t rxPending = 0;  // answer bytes not yet read (some may still be on the wire)
};

struct Counters {
    int opens = 0;
    int refusedOpens = 0;
    int closes = 0;
    int claims = 0;
    int releases = 0;
    int detaches = 0;         // kernel driver detached (by request or on claim)
    int busyDetaches = 0;     // ... while another program held the tty open
    int attaches = 0;         // kernel driver attached again
    int controlRequests = 0;  // every control transfer, standard ones included
    int resets = 0;           // SIO reset (value 0)
    int txPurges = 0;         // value 1: bytes from the host not yet sent (ftdi_tcoflush)
    int rxPurges = 0;         // value 2: bytes for the host not yet read (ftdi_tciflush)
    int bulkOutTransfers = 0;
    std::size_t bulkOutBytes = 0;
    int bulkInTransfers = 0;
    int bulkInPackets = 0;
    std::size_t bulkInBytes = 0;  // data bytes, status bytes not counted
};

enum class EventKind {
    Plug,
    Unplug,
    Open,
    OpenRefused,
    Close,
    Claim,
    Release,
    DetachKernelDriver,
    AttachKernelDriver,
    Control,   // requestType, request, value, index; data: what went either way
    BulkOut,   // data: the bytes the converter accepted
    BulkIn,    // data: the data bytes delivered, status bytes removed; packets
    Exchange,  // data: bytes that reached the peer; answer: its reply
};

struct Event {
    Clock::time_point time;   // when it happened (a transfer: when it ended)
    Clock::time_point start;  // a transfer: when it was submitted; otherwise = time
    int converter = -1;
    EventKind kind = EventKind::Plug;
    int result = 0;  // the libusb result: 0 or an error, or a control
                     // transfer's byte count; a bulk one's is data.size()
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    Bytes data;
    Bytes answer;
    int packets = 0;
    bool busy = false;  // DetachKernelDriver: the tty was held open
};

// Which transfers a fault applies to.
enum class Transfers { Bulk, BulkIn, BulkOut, Control, All };

// Removes every converter (open handles fail with LIBUSB_ERROR_NO_DEVICE
// from then on) and clears the log. No hot-plug event is sent.
void Reset();

// Plugs a new converter in (hot-plug "arrived") and returns its index. Its
// kernel driver is active, the peer silent.
int AddConverter(const ConverterSetup &setup = {});
int ConverterCount();

// The peer answers after `turnaround` from the last byte it received.
void SetPeer(int converter, Peer peer, std::chrono::microseconds turnaround = {});
// The peer sends bytes unasked; they start on the RX line now (or when the
// line is free).
void PeerSend(int converter, const Bytes &bytes);

// Unplugging fails transfers in progress and every later call on open
// handles with LIBUSB_ERROR_NO_DEVICE, takes the converter off the device
// list and sends hot-plug "left". Plugging it in again makes a new device
// (new address, power-on settings, kernel driver bound) and sends "arrived".
void Unplug(int converter);
void Plug(int converter);

// Whether libusb reports hot-plug support (libusb_has_capability), as it
// does on Linux; without it, libusb_hotplug_register_callback fails with
// LIBUSB_ERROR_NOT_SUPPORTED, as on platforms that have none. Reset()
// turns it back on.
void SetHotplugSupported(bool supported);

// libusb_open of the converter returns `error` (e.g. LIBUSB_ERROR_ACCESS,
// as without access rights); 0 opens normally again.
void RefuseOpen(int converter, int error);

// Binds or unbinds the kernel's serial driver; `busy`: another program
// holds its tty open (detaching it then takes the tty from that program,
// as the real kernel does; counted in busyDetaches).
void SetKernelDriver(int converter, bool active, bool busy = false);

// The next `count` transfers of the kind given fail with `error` and move
// no byte. LIBUSB_ERROR_TIMEOUT makes them wait for their timeout first
// (they fail at once when they have none).
void FailTransfers(int converter, int error, int count = 1, Transfers which = Transfers::Bulk);

ConverterState State(int converter);
Counters GetCounters(int converter);
// The log, oldest first: of one converter or, with -1, of all. It keeps
// the latest 100000 events.
std::vector<Event> Log(int converter = -1);
// Every baud rate the converter was set to, in order.
std::vector<int> BaudRates(int converter);
// Clears the log and every converter's counters and baud rate list.
void ClearLog();

// The baud rate an FT232R/BM runs at for a divisor request's value and
// index (AM chips ignore the index).
int DecodeBaudRate(std::uint16_t value, std::uint16_t index, bool amChip = false);

const char *EventName(EventKind kind);

// Peers.
Peer Silent();
Peer Echo();
// A foreign device: answers every call with the same bytes.
Peer Fixed(Bytes answer);

}  // namespace usbemu

// The Bluetooth address of the L-731 logger: reading it from the device (or
// from the stored value), writing it, and stepping through a range of
// addresses, as the firmware page and the update page offer them.
//
// The address is six bytes a[0] to a[5]; all 0xFF means none is known. It is
// kept in the key-value store (CTool registry operations) as the string
// value "L731BTMacAddress" under the current user, directly under the
// program's root: the text "%02X:%02X:%02X:%02X:%02X:%02X" of a[0] to a[5].
//
// Sentences:
//
//   to the device    $PMTK492*3D CR LF              address query
//   from the device  $PMTK592,<p1..p6>*CS           12 hex digits; the pairs
//                                                   p1..p6 are a[5]..a[0]
//   to the device    $PMTK392,<a5a4a3>,<a2a1a0>*CS  address write, "%02X" each
//   from the device  any text holding "$PMTK010"    write confirmation
//   to the device    $PMTK220,1000*1F CR LF         rate setting
//
// So the address reads and writes in one byte order: what PMTK592 reports
// PMTK392 writes back unchanged, and so does the stepping.
//
// Replies and stored texts are checked before they are used: a PMTK592 field
// must be exactly 12 hex digits ended by "*", a stored text exactly
// "XX:XX:XX:XX:XX:XX"; anything else counts as no address.
//
// Operations take the port through SentencePort, so either page can call
// them on its own port. They run on one thread at a time (a page's worker or
// its user-interface thread); the running flag may be read from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/Tool.h"

class SentencePort;

using BtAddress = std::array<std::uint8_t, 6>;

namespace bluetooth {

inline constexpr BtAddress kUnknownAddress = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr std::string_view kQuerySentence = "$PMTK492*3D\r\n";
inline constexpr std::string_view kRateSentence = "$PMTK220,1000*1F\r\n";
inline constexpr std::string_view kReplyTag = "$PMTK592";
inline constexpr std::string_view kConfirmTag = "$PMTK010";
inline constexpr const char* kRegistryValue = "L731BTMacAddress";
inline constexpr const char* kOutOfRangeText = "BT_MAC Out of range";

// Reads and waits.
inline constexpr std::size_t kReadBytes = 80;
inline constexpr int kReplyPolls = 100;
inline constexpr std::uint32_t kReplyPollMs = 38;
inline constexpr std::uint32_t kWriteLeadMs = 2000;
inline constexpr int kConfirmPolls = 100;
inline constexpr std::uint32_t kConfirmPollMs = 100;
inline constexpr std::uint32_t kConfirmSettleMs = 1000;
inline constexpr std::uint32_t kStepPauseMs = 100;

// "%02X" of the XOR of the characters after the "$" (index 1 to the end).
std::string NmeaChecksumHex(std::string_view sentence);
// "$PMTK392,%02X%02X%02X,%02X%02X%02X" of a[5] .. a[0], "*", checksum, CR LF.
std::string BuildWriteSentence(const BtAddress& a);

// Position of the first "$PMTK592" that starts within the first length
// characters of text.
std::optional<std::size_t> FindPmtk592(std::string_view text, std::size_t length);
// The field `skip` characters after the "$PMTK592", at most `length`
// characters, a leading "," skipped, ended at the first "*" (none when no
// "*" ends it within the cut).
std::optional<std::string> ExtractPmtk592Field(std::string_view text, std::size_t skip, std::size_t length);
// The address of a PMTK592 reply: false unless its field is 12 hex digits.
bool ParsePmtk592(std::string_view reply, BtAddress& a);
// Without the flag: the field's decimal value (0 when it has none).
long ParsePmtk592Value(std::string_view reply);

// "XX:XX:XX:XX:XX:XX" of a[0] .. a[5], and back (false for any other form).
std::string FormatRegistryText(const BtAddress& a);
bool ParseRegistryText(std::string_view text, BtAddress& a);
// "%x:%x:%x:%x:%x:%x" of a[5] .. a[0], as the stepping shows it.
std::string DisplayText(const BtAddress& a);

// low = a[2]a[1]a[0], high = a[5]a[4]a[3], each 24 bits.
std::uint32_t LowPart(const BtAddress& a);
std::uint32_t HighPart(const BtAddress& a);
// The next address: low + 1, and when low was 0xFFFFFF, high + 1 and low 0.
// False (a unchanged) for FF:FF:FF:FF:FF:FF, which has no next.
bool StepAddress(BtAddress& a);
// True when a lies past limit (high above, or the same high and low above).
bool IsPastLimit(const BtAddress& a, const BtAddress& limit);

}  // namespace bluetooth

class BluetoothAddressOps {
public:
    BluetoothAddressOps() = default;

    // Opens the port, asks the device and polls for its PMTK592 reply. A valid
    // reply gives the address, unless it is all 0xFF and a valid stored text
    // exists; no valid reply gives the stored text's address, else all 0xFF.
    // The address is stored and the port closed. False when the port did not
    // open (nothing else happens then).
    bool ReadBtMac(SentencePort& port);

    enum class WriteResult { kPortFailed, kConfirmed, kUnconfirmed };
    // Opens the port, waits 2 s, writes the address (a[5] first) and polls
    // for "$PMTK010"; closes the port.
    WriteResult WriteBtMac(SentencePort& port);

    // kBusy: refused by the page while a download runs; nothing sent.
    enum class StepResult { kSent, kOutOfRange, kFinishSent, kPortClosed, kIdle, kBusy };
    // One step on an open port: the first call starts the stepping (state 1,
    // display text). While stepping: past the limit (or at
    // FF:FF:FF:FF:FF:FF, which has no next) ends it (status text
    // "BT_MAC Out of range", running flag cleared, port purged); otherwise
    // the current address is written (rebuilt from the address each time,
    // a[5] first, as WriteBtMac writes it) and the address steps on. In the
    // finish state, with nothing sent, the rate setting and the address query
    // go out. A closed port sends nothing.
    StepResult WriteNextBtMac(SentencePort& port);
    // Stepping state: back to idle, or to finish (the next call sends the
    // rate setting and the query).
    void ResetStepping();
    void FinishStepping();

    // The stored text, when valid.
    std::optional<BtAddress> StoredAddress();
    void StoreAddress(const BtAddress& a);

    BtAddress address = bluetooth::kUnknownAddress;  // a[0] .. a[5]
    BtAddress limit = bluetooth::kUnknownAddress;

    // Stepping state: 0 idle, 1 address sent, 2 finish.
    int stepState = 0;
    int sent = 0;
    std::atomic<int> running{0};
    std::string displayText;
    std::string statusText;

private:
    // Reads up to 80 bytes into a fresh buffer.
    std::string ReadChunk(SentencePort& port);

    CTool tool_;
};

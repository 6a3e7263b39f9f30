// One COM port: a number from 1 to 50. The program names every serial port
// this way, whatever the device file behind it.
//
// A port has three spellings:
//   Name()          "COM12"       the combo, the settings object, the lists
//   PrefixedName()  "//.//COM12"  with the device-namespace prefix, forward
//                                 slashes, as the port is opened from COM10 on
//   LinkName()      the name the port is opened by: Name() up to COM9,
//                   PrefixedName() from COM10 on
// Parse is the one parser of these names; it also takes the prefix written
// with backslashes ("\\.\COM12"). FromFriendlyName finds the port that a
// driver's friendly name ends with ("CP210x USB to UART Bridge Controller
// (COM4)").
//
// Where the program keeps a port as text (the combo, the settings object, a
// friendly name), it keeps the text; this value is made from it where a
// number or another spelling is wanted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class ComPort {
public:
    static constexpr int kFirst = 1;
    static constexpr int kLast = 50;

    // The port of a number; none outside 1..50.
    static std::optional<ComPort> FromNumber(int number);
    // The port of "COMn", "//.//COMn" or "\\.\COMn" with n in 1..50: digits
    // only, no sign, no leading zero, upper-case "COM", nothing before or
    // after. Anything else is none.
    static std::optional<ComPort> Parse(std::string_view name);
    // The port named by the last parenthesised group of a friendly name that
    // holds exactly a port name. The port list appends the port to the
    // driver's text, and the text in front of it may come from the device
    // itself (a USB product string): a "(COM1)" or "(rev 2)" in that text must
    // neither move the port nor hide it.
    static std::optional<ComPort> FromFriendlyName(std::string_view friendlyName);

    int Number() const { return number_; }
    // The port combo's index of the port (0 for COM1).
    int ComboIndex() const { return number_ - 1; }
    std::string Name() const;
    std::string PrefixedName() const;
    std::string LinkName() const;

    friend bool operator==(ComPort a, ComPort b) { return a.number_ == b.number_; }

private:
    explicit ComPort(int number) : number_(number) {}
    int number_;
};

// Shorthands of the range, for loops over every port.
inline constexpr int kMaxComPort = ComPort::kLast;

}  // namespace platform

// Behaviour tables of the simulated device models: which sentence gets which
// reply. This is the place to teach the simulator the device's sentences;
// see DeviceSimulator.h for how a behaviour is written.
//
// A device is described by a DeviceProfile: the sentence families it answers,
// the model name it reports, its firmware and hardware versions and, for the
// track logger, its recording options and log memory. Presets by model name
// give each model's profile ("ZEP ION", "L-731", ...); tests and the
// pellora-devsim options change any value before or while the device runs:
//
//     sim::DeviceSimulator device(options);
//     sim::DeviceProfile profile = sim::ProfileForModel("ZEP ION");
//     profile.firmware = "306";
//     auto state = sim::InstallDevice(device, profile);
//     device.Start();
//     ...
//     state->Update([](sim::DeviceProfile& p) { p.hardware = "05"; });
//
// What the device answers (bodies; framing as in Framing.h, one write per
// reply, nothing sent unasked):
//
//   $PQVR810            -> $PQVR852,<model name>
//   $PQVR829            -> $PQVR861,<firmware, three digits>
//   $PQVR832            -> $PQVR865,<hardware field>
//   $ORVIK731,1         -> $ORVIK001,1,<model name>
//   $ORVIK731,3         -> $ORVIK001,3,<firmware>
//   $ORVIK731,7         -> $ORVIK001,7,<hardware field>
//   $ORVIK731,4/6/9     -> $ORVIK001,<code>
//   $ORVIK731,2         -> $ORVIK001,2 (every model that answers at all)
//   $PMTK400            -> $PMTK001,400,3
//   $PMTK182,2,<item>   -> $PMTK182,3,<item>,<value>   (items 3, 4, 6 decimal,
//                                                       item 8 as 8 hex digits)
//   $PMTK182,2          -> $PMTK182,3                   (a query of no item)
//   $PMTK182,1,<item>,v -> $PMTK001,182,1,3             (items 3, 4, 6)
//   $PMTK182,10 / 11    -> $PMTK001,182,10/11,3         (recording on / off)
//   $PMTK182,6,1        -> $PMTK001,182,6,3 after the erase time
//   $PMTK182,7,addr,len -> $PMTK182,8,<addr, 8 hex digits>,<data in hex>,
//                          one sentence per 2048 bytes (at most 64 KiB);
//                          the read-out faults of the profile act on these
//                          (a corrupt checksum once, no answer, a late first
//                          packet, $GPGGA sentences between the packets)
//   $PMTK182,14,<baud>  -> $PMTK001,182,14,3
//   $PMTK492            -> $PMTK592,<12 hex digits>     (Bluetooth address)
//   $PMTK392,<6>,<6>    -> $PMTK001,392,3 and $PMTK010,001; the 12 digits
//                          become the address
//   $PMTK220,<ms>       -> $PMTK001,220,3
//
// The erase empties the memory and sets the end address to 0. A read sends
// its data sentences only, with no acknowledgement behind them: the program
// never waits for one, and one left unread would be taken by its next
// command as that command's answer.
//
// A PMTK182 command the logger does not know gets $PMTK001,182,<command>,1, a
// known one with an unusable value $PMTK001,182,<command>,2, and one whose
// fields are not numbers $PMTK001,182,<command>,0 (invalid).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "sim/DeviceSimulator.h"

namespace sim {

struct DeviceProfile {
    std::string preset;     // the preset the profile came from; informative only
    std::string modelName;  // reported by $PQVR852 and $ORVIK001,1 ("TK517")

    bool answersQvr = false;      // $PQVR810, $PQVR829, $PQVR832
    bool answersOrvik = false;    // $ORVIK731 codes 1, 3, 4, 6, 7, 9
    bool acksDisconnect = false;  // $ORVIK731,2 (the end of every exchange)
    bool logger = false;          // $PMTK400 and $PMTK182

    std::string firmware = "100";  // three decimal digits: "305" is V3.05
    std::string hardware = "01";   // the hardware field: "04" is V04

    // Track logger.
    int logIntervalTenths = 50;             // item 3, tenths of a second
    int logDistanceTenths = 1000;           // item 4, tenths of a metre
    int recordMode = 1;                     // item 6: 1 overwrite, 2 stop when full
    bool recording = true;                  // commands 10 (on) and 11 (off)
    std::uint32_t logEndAddress = 0x1A000;  // item 8
    int eraseDelayMs = 2000;                // how long an erase takes
    int linkBaud = 115200;                  // link speed, changed by command 14

    // Bluetooth module (the loggers): its address as PMTK592 reports it and
    // PMTK392 writes it, 12 upper-case hex digits.
    bool bluetooth = false;
    std::string btAddress = "0016A4000001";
    int fixIntervalMs = 1000;  // set by PMTK220
    // Faults of the log read-out (command 7), each a knob of its own.
    std::uint32_t corruptPacketOnce = kNoPacket;  // the packet at this address goes out once with a wrong checksum
    bool stallReads = false;                      // reads get no answer at all
    int firstPacketDelayMs = 0;                   // the first packet of every read comes this late
    bool nmeaBetweenPackets = false;              // a position sentence before every packet, as a logger
                                                  // that outputs positions sends
    static constexpr std::uint32_t kNoPacket = 0xFFFFFFFF;
};

// Size of the logger's log memory.
inline constexpr std::uint32_t kLogMemorySize = 0x200000;
// Bytes of log memory per data sentence of a read.
inline constexpr std::uint32_t kReadPacketBytes = 2048;
// Longest read one request may ask for.
inline constexpr std::uint32_t kMaxReadBytes = 0x10000;

// The presets: name, what it plays.
struct PresetInfo {
    const char* name;
    const char* description;
};
const std::vector<PresetInfo>& Presets();

// The preset of a model name: case, blanks, "-" and "_" do not count, and a
// model may also be named by the name it reports ("TK517" is "ZEP ION").
std::optional<DeviceProfile> FindPreset(const std::string& name);

// The preset of the name; any other name gives a device that reports that
// name and answers like the other query models (an unknown model to the
// program); an empty name gives a device that answers nothing.
DeviceProfile ProfileForModel(const std::string& name);

// Whether a text may stand in a sentence field: printable ASCII without
// ",", "*" and "$", at most maxLength characters, not empty.
bool IsFieldText(const std::string& text, std::size_t maxLength = 32);
// Checks the values a device will send; false and a reason when one would
// break the sentences.
bool ValidateProfile(const DeviceProfile& profile, std::string* error);

// The live device: its profile, its log memory and what the program did to
// it. Shared between the simulator's thread and the test; every member locks.
class DeviceState {
public:
    explicit DeviceState(DeviceProfile profile);

    DeviceProfile Profile() const;
    void SetProfile(const DeviceProfile& profile);
    void Update(const std::function<void(DeviceProfile&)>& change);
    void SetFirmware(const std::string& digits);
    void SetHardware(const std::string& field);

    // Log memory, all 0xFF (erased) at the start. Writes and reads past the
    // end of the memory are cut at its end.
    void WriteMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> ReadMemory(std::uint32_t address, std::uint32_t length) const;

    // What the program did.
    int EraseCount() const;
    // Every read request taken (address, length), in order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ReadRequests() const;
    int WriteNameCount() const;
    std::vector<int> OrvikCodes() const;  // every $ORVIK731 code taken, in order

    // The replies to one sentence (the behaviours call this). Empty when the
    // device does not answer it.
    Replies Answer(const Sentence& sentence);

private:
    Replies AnswerQvr(const Sentence& sentence, const DeviceProfile& p);
    Replies AnswerOrvik(const Sentence& sentence, const DeviceProfile& p);
    Replies AnswerPmtk400(const DeviceProfile& p);
    Replies AnswerPmtk182(const Sentence& sentence);
    Replies AnswerBluetooth(const Sentence& sentence);  // BluetoothBehaviour.cpp

    mutable std::mutex mutex_;
    DeviceProfile profile_;
    std::vector<std::uint8_t> memory_;
    int eraseCount_ = 0;
    int writeNameCount_ = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> readRequests_;
    std::vector<int> orvikCodes_;
};

// Installs the behaviours of a profile on the simulator and returns the
// device's live state. The behaviours look at the profile for every sentence,
// so a family switched on or off later takes effect at once.
std::shared_ptr<DeviceState> InstallDevice(DeviceSimulator& sim, const DeviceProfile& profile);

// InstallDevice with ProfileForModel(model).
std::shared_ptr<DeviceState> InstallModelBehaviours(DeviceSimulator& sim, const std::string& model);

}  // namespace sim

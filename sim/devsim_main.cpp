// pellora-devsim: a simulated GPS device on a pseudo-terminal, registered as
// a COM port for the program to find. Runs until interrupted.
#include <getopt.h>
#include <pthread.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "sim/FlashTarget.h"
#include "sim/SerialUpdateTarget.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "Usage: pellora-devsim [options]\n"
        "A simulated GPS device on a pseudo-terminal, shown to the program as a COM port.\n"
        "\n"
        "  --port COMn        register as this port (default: lowest free from COM3)\n"
        "  --model NAME       the device model to answer as (see --list-models); any other\n"
        "                     name is reported as it is, as a model the program does not know\n"
        "  --model-name TEXT  the name the device reports to $PQVR810 and $ORVIK731,1\n"
        "  --firmware DIGITS  firmware version, three digits (305 is V3.05)\n"
        "  --hardware TEXT    hardware version field, 1 to 3 characters (04 is V04)\n"
        "  --logger           answer the logger commands $PMTK400 and $PMTK182\n"
        "  --no-logger        do not answer them\n"
        "  --interval TENTHS  logging interval in tenths of a second\n"
        "  --distance TENTHS  logging distance in tenths of a metre\n"
        "  --record-mode N    1 overwrite when full, 2 stop when full\n"
        "  --log-end HEX      log end address (hexadecimal, at most 200000)\n"
        "  --erase-time MS    how long an erase of the log takes\n"
        "  --bt-address HEX   Bluetooth address, 12 hex digits as $PMTK592 reports it\n"
        "                     (also makes the device answer $PMTK492, $PMTK392, $PMTK220)\n"
        "  --list-models      show the model presets and exit\n"
        "  --name TEXT        friendly driver text (default: CP210x USB to UART Bridge Controller)\n"
        "  --silent           never answer\n"
        "  --delay MS         wait MS milliseconds before each reply\n"
        "  --bad-checksum     send replies with a wrong checksum\n"
        "  --split N          write each reply in N pieces\n"
        "  --echo             send back every byte that comes in, as it comes\n"
        "  --noise            put 3 to 8 random bytes (any value) in front of each reply\n"
        "  --verbose          print every sentence in and out\n"
        "  --help             show this text\n"
        "\n"
        "The device takes a flash download and a serial update as well and prints\n"
        "what it stored when it stops.\n"
        "The port directory is $PELLORA_PORT_DIR, else $XDG_RUNTIME_DIR/pellora/ports.\n",
        out);
}

bool ParseInt(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

// Hexadecimal, with or without "0x", at most 8 digits.
bool ParseHex(const char* text, std::uint32_t& value) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    }
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    value = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    enum {
        kPort = 1, kModel, kName, kSilent, kDelay, kBadChecksum, kSplit, kEcho, kNoise, kVerbose, kHelp,
        kModelName, kFirmware, kHardware, kLogger, kNoLogger, kInterval, kDistance, kRecordMode, kLogEnd,
        kEraseTime, kListModels, kBtAddress,
    };
    static const option kOptions[] = {
        {"port", required_argument, nullptr, kPort},
        {"model", required_argument, nullptr, kModel},
        {"name", required_argument, nullptr, kName},
        {"silent", no_argument, nullptr, kSilent},
        {"delay", required_argument, nullptr, kDelay},
        {"bad-checksum", no_argument, nullptr, kBadChecksum},
        {"split", required_argument, nullptr, kSplit},
        {"echo", no_argument, nullptr, kEcho},
        {"noise", no_argument, nullptr, kNoise},
        {"verbose", no_argument, nullptr, kVerbose},
        {"help", no_argument, nullptr, kHelp},
        {"model-name", required_argument, nullptr, kModelName},
        {"firmware", required_argument, nullptr, kFirmware},
        {"hardware", required_argument, nullptr, kHardware},
        {"logger", no_argument, nullptr, kLogger},
        {"no-logger", no_argument, nullptr, kNoLogger},
        {"interval", required_argument, nullptr, kInterval},
        {"distance", required_argument, nullptr, kDistance},
        {"record-mode", required_argument, nullptr, kRecordMode},
        {"log-end", required_argument, nullptr, kLogEnd},
        {"erase-time", required_argument, nullptr, kEraseTime},
        {"list-models", no_argument, nullptr, kListModels},
        {"bt-address", required_argument, nullptr, kBtAddress},
        {nullptr, 0, nullptr, 0},
    };
    sim::SimOptions options;
    bool verbose = false;
    // Device values given on the command line, applied over the model's preset.
    std::optional<std::string> modelName, firmware, hardware;
    std::optional<bool> logger;
    std::optional<int> interval, distance, recordMode, eraseTime;
    std::optional<std::uint32_t> logEnd;
    std::optional<std::string> btAddress;
    auto number = [](const char* name, const char* text, int low, int high, std::optional<int>& out) {
        int value = 0;
        if (!ParseInt(text, low, high, value)) {
            std::fprintf(stderr, "pellora-devsim: bad --%s: %s\n", name, text);
            return false;
        }
        out = value;
        return true;
    };
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        switch (opt) {
            case kPort: options.port = optarg; break;
            case kModel: options.model = optarg; break;
            case kName: options.friendlyText = optarg; break;
            case kSilent: options.faults.silent = true; break;
            case kDelay:
                if (!ParseInt(optarg, 0, 600000, options.faults.delayMs)) {
                    std::fprintf(stderr, "pellora-devsim: bad --delay: %s\n", optarg);
                    return 2;
                }
                break;
            case kBadChecksum: options.faults.wrongChecksum = true; break;
            case kSplit:
                if (!ParseInt(optarg, 1, 1024, options.faults.splitParts)) {
                    std::fprintf(stderr, "pellora-devsim: bad --split: %s\n", optarg);
                    return 2;
                }
                break;
            case kEcho: options.faults.echo = true; break;
            case kNoise: options.faults.lineNoise = true; break;
            case kVerbose: verbose = true; break;
            case kHelp: Usage(stdout); return 0;
            case kModelName: modelName = optarg; break;
            case kFirmware: firmware = optarg; break;
            case kHardware: hardware = optarg; break;
            case kLogger: logger = true; break;
            case kNoLogger: logger = false; break;
            case kInterval:
                if (!number("interval", optarg, 0, 1000000, interval)) return 2;
                break;
            case kDistance:
                if (!number("distance", optarg, 0, 1000000, distance)) return 2;
                break;
            case kRecordMode:
                if (!number("record-mode", optarg, 1, 2, recordMode)) return 2;
                break;
            case kEraseTime:
                if (!number("erase-time", optarg, 0, 600000, eraseTime)) return 2;
                break;
            case kLogEnd: {
                std::uint32_t value = 0;
                if (!ParseHex(optarg, value)) {
                    std::fprintf(stderr, "pellora-devsim: bad --log-end: %s\n", optarg);
                    return 2;
                }
                logEnd = value;
                break;
            }
            case kBtAddress:
                btAddress = optarg;
                if (btAddress->size() != 12 ||
                    btAddress->find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
                    std::fprintf(stderr, "pellora-devsim: bad --bt-address: %s\n", optarg);
                    return 2;
                }
                break;
            case kListModels:
                for (const sim::PresetInfo& preset : sim::Presets()) {
                    std::printf("%-10s %s\n", preset.name, preset.description);
                }
                return 0;
            default: Usage(stderr); return 2;
        }
    }
    if (optind < argc) {
        Usage(stderr);
        return 2;
    }

    // Stop signals are taken by sigwait below, in this thread only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::DeviceProfile profile = sim::ProfileForModel(options.model);
    if (!options.model.empty() && !sim::FindPreset(options.model)) {
        std::fprintf(stderr,
                     "pellora-devsim: \"%s\" is no preset model; reporting it as a model name "
                     "(see --list-models)\n",
                     options.model.c_str());
    }
    if (modelName) profile.modelName = *modelName;
    if (firmware) profile.firmware = *firmware;
    if (hardware) profile.hardware = *hardware;
    if (logger) profile.logger = *logger;
    if (interval) profile.logIntervalTenths = *interval;
    if (distance) profile.logDistanceTenths = *distance;
    if (recordMode) profile.recordMode = *recordMode;
    if (logEnd) profile.logEndAddress = *logEnd;
    if (eraseTime) profile.eraseDelayMs = *eraseTime;
    if (btAddress) {
        profile.bluetooth = true;
        profile.btAddress = *btAddress;
    }
    std::string invalid;
    if (!sim::ValidateProfile(profile, &invalid)) {
        std::fprintf(stderr, "pellora-devsim: %s\n", invalid.c_str());
        return 2;
    }

    sim::DeviceSimulator device(options);
    sim::InstallDevice(device, profile);
    // The device also takes both ways of updating it: the flash download
    // (any chip) and the serial update in PTRV sentences.
    sim::FlashTarget flashTarget(device);
    auto serialUpdateTarget = sim::InstallSerialUpdateTarget(device);
    if (verbose) {
        device.SetObserver([](const sim::TranscriptEntry& e) {
            std::printf("%-16s %s\n", sim::KindName(e.kind), Printable(e.bytes).c_str());
            std::fflush(stdout);
        });
    }
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "pellora-devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s %s \"%s\"\n", device.PortName().c_str(), device.DevicePath().c_str(),
                options.friendlyText.c_str());
    if (verbose) {
        std::printf("model %s: reports \"%s\", firmware %s, hardware %s, answers%s%s%s%s\n",
                    profile.preset.empty() ? "(none)" : profile.preset.c_str(), profile.modelName.c_str(),
                    profile.firmware.c_str(), profile.hardware.c_str(), profile.answersQvr ? " $PQVR" : "",
                    profile.answersOrvik ? " $ORVIK731" : "", profile.logger ? " $PMTK" : "",
                    profile.answersQvr || profile.answersOrvik || profile.logger ? "" : " nothing");
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    device.Stop();
    if (flashTarget.Completed()) {
        std::printf("flash download: %zu bytes stored\n", flashTarget.StoredImage().size());
    }
    if (serialUpdateTarget->Complete()) {
        std::printf("serial update: %zu bytes stored\n", serialUpdateTarget->Payload().size());
    }
    return 0;
}

// pellora-devsim: a simulated GPS device on a pseudo-terminal, registered as
// a COM port for the program to find. Runs until interrupted.
#include <getopt.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "Usage: pellora-devsim [options]\n"
        "A simulated GPS device on a pseudo-terminal, shown to the program as a COM port.\n"
        "\n"
        "  --port COMn        register as this port (default: lowest free from COM3)\n"
        "  --model NAME       the device model to answer as\n"
        "  --name TEXT        friendly driver text (default: CP210x USB to UART Bridge Controller)\n"
        "  --silent           never answer\n"
        "  --delay MS         wait MS milliseconds before each reply\n"
        "  --bad-checksum     send replies with a wrong checksum\n"
        "  --split N          write each reply in N pieces\n"
        "  --echo             send back everything that comes in\n"
        "  --noise            put garbage bytes in front of each reply\n"
        "  --verbose          print every sentence in and out\n"
        "  --help             show this text\n"
        "\n"
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
    enum { kPort = 1, kModel, kName, kSilent, kDelay, kBadChecksum, kSplit, kEcho, kNoise, kVerbose, kHelp };
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
        {nullptr, 0, nullptr, 0},
    };
    sim::SimOptions options;
    bool verbose = false;
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

    sim::DeviceSimulator device(options);
    sim::InstallModelBehaviours(device, options.model);
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
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    device.Stop();
    return 0;
}

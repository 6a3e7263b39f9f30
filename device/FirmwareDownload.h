// The firmware page's own pieces of the flash download, below the page: its
// download agent chosen by the model code (the update page chooses by the
// hardware version), its temporary payload path, its busy flag and its final
// text.
//
//   model code   agent file searched in the program's folder   parameter
//   3, 4, 7      "MTK_AllInOne_DA_MT3318_*.bin"                0x100800
//   5, 6         "MTK_AllInOne_DA_MT3329_*.bin"                0xC00
//   any other    nothing (the agent path stays empty)          none
//
// The busy flag is 1 from an accepted Download until the worker ends; the
// main window refuses to close while it is set. It is atomic: the
// user-interface thread sets it, the worker clears it, the close handler
// reads it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace firmware {

inline constexpr const char* kTempPayloadName = "Orvik_FW_Temp.bin";

// String ids of the page's texts.
inline constexpr int kStringUpdating = 410;
inline constexpr int kStringDone = 411;
inline constexpr int kStringNoFile = 412;
inline constexpr int kStringConnectFailed = 413;
inline constexpr int kStringBadFile = 415;

struct AgentChoice {
    std::string pattern;         // empty: no agent for this model
    bool hasParameter = false;   // whether the agent parameter is set
    std::uint32_t parameter = 0;
};

AgentChoice AgentForModel(int modelType);

// The path of the first file (by name, case ignored) in folder matching the
// model's pattern; empty for a model without an agent or when none is found.
std::string FindAgentFile(const std::string& folder, int modelType);

// "<folder>/Orvik_FW_Temp.bin", of any length.
std::string TempPayloadPath(const std::string& firmwareFileFolder);

// The port of a run, from the port name the settings object holds: its COM
// number (1..50) and the name the page opens it by ("//.//" in front from
// COM10 on). Recomputed for every run; false for a name without such a
// number, and the run is then refused rather than made on the number given
// at construction (8) or one left from an earlier run.
bool PortForRun(const std::string& portName, int& comPortNumber, std::string& linkPortName);

// The text after a run: 411 (done) only when the agent and the image both
// loaded and the run returned 0; 413 otherwise.
int FinalTextId(bool daLoaded, bool imageLoaded, std::uint32_t downloadResult);

// The busy flag, set for the lifetime of a guard.
class BusyFlag {
public:
    bool IsBusy() const { return downloadBusy.load() != 0; }
    // Sets the flag; false (and nothing changed) when it was set already, so
    // a second download never starts while one runs.
    bool TryBegin() {
        int expected = 0;
        return downloadBusy.compare_exchange_strong(expected, 1);
    }
    void End() { downloadBusy.store(0); }

    std::atomic<int> downloadBusy{0};
};

}  // namespace firmware

#include "device/FirmwareDownload.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "device/FlashDownload.h"

namespace fs = std::filesystem;

namespace firmware {

AgentChoice AgentForModel(int modelType) {
    switch (modelType) {
        case 3:
        case 4:
        case 7: return {"MTK_AllInOne_DA_MT3318_*.bin", true, 0x100800};
        case 5:
        case 6: return {"MTK_AllInOne_DA_MT3329_*.bin", true, 0xC00};
        default: return {};
    }
}

std::string FindAgentFile(const std::string& folder, int modelType) {
    const AgentChoice choice = AgentForModel(modelType);
    if (choice.pattern.empty()) {
        return {};
    }
    const std::string name = FirstMatchingFile(folder, choice.pattern);
    if (name.empty()) {
        return {};
    }
    return (folder.empty() ? std::string(".") : folder) + "/" + name;
}

std::string TempPayloadPath(const std::string& firmwareFileFolder) {
    return firmwareFileFolder + "/" + kTempPayloadName;
}

bool PortForRun(const std::string& portName, int& comPortNumber, std::string& linkPortName) {
    comPortNumber = FlashDownloader::ComPortNumberOf(portName);
    if (comPortNumber == 0) {
        linkPortName.clear();
        return false;
    }
    linkPortName = FlashDownloader::LinkPortNameFor(portName);
    return true;
}

int FinalTextId(bool daLoaded, bool imageLoaded, std::uint32_t downloadResult) {
    return daLoaded && imageLoaded && downloadResult == 0 ? kStringDone : kStringConnectFailed;
}

}  // namespace firmware

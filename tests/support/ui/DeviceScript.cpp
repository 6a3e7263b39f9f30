#include "DeviceScript.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "device/CommandEngine.h"
#include "device/UpdateImage.h"

namespace testsupport {

FakeSerialBackend::Responder IdentifyingDevice(const std::string& modelName, const std::string& firmware,
                                               const std::string& hardware) {
    return [=](const std::string& written) -> std::string {
        if (written == FrameSentence("PQVR810")) return FrameSentence("PQVR852," + modelName);
        if (written == FrameSentence("PQVR829")) return FrameSentence("PQVR861," + firmware);
        if (written == FrameSentence("PQVR832")) return FrameSentence("PQVR865," + hardware);
        if (written.rfind("$ORVIK731,", 0) == 0) {
            const std::string code = written.substr(10, written.find('*') - 10);
            return FrameSentence("ORVIK001," + code + ",0");
        }
        return {};
    };
}

std::string WriteZep(const std::string& folder, const std::string& name, const ZepHeader& header,
                     const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes(update::kHeaderSize, 0);
    auto put = [&](std::size_t at, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width && i < text.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(text[i]);
    };
    put(update::kProductNameOffset, update::kProductNameSize, header.product);
    put(update::kFirmwareVersionOffset, update::kFirmwareVersionSize, header.version);
    for (std::size_t i = 0; i < header.hardware.size() && i < update::kEntryCount; ++i) {
        put(update::kHardwareVersionsOffset + i * update::kEntrySize, update::kEntrySize, header.hardware[i]);
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    const std::uint32_t crc = update::Crc32(static_cast<std::uint32_t>(payload.size()), payload.data());
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    const std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<std::uint8_t> SamplePayload(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> payload(size);
    for (auto& b : payload) b = static_cast<std::uint8_t>(random());
    return payload;
}

std::string MakeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

}  // namespace testsupport

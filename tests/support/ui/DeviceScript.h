// Scripted stand-ins for the device on the fake serial port, and update files
// made on the fly, for tests of the update page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FakeSerial.h"

namespace testsupport {

// Answers the identification queries as a device of the given model reply
// name ("TK517"), firmware digits ("305") and hardware ("04"). The logger
// commands are acknowledged too.
FakeSerialBackend::Responder IdentifyingDevice(const std::string& modelName, const std::string& firmware,
                                               const std::string& hardware);

struct ZepHeader {
    std::string product = "TK517";
    std::string version = "V3.10";
    std::vector<std::string> hardware = {"V04"};
};

// Writes an update file with header; returns its path.
std::string WriteZep(const std::string& folder, const std::string& name, const ZepHeader& header,
                     const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> SamplePayload(std::size_t size, unsigned seed = 1);
// A fresh private folder under the temporary directory.
std::string MakeTempFolder(const std::string& prefix);

}  // namespace testsupport

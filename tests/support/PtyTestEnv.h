// Helpers for tests on pseudo-terminals: a private port directory per test and
// a raw terminal pair whose device end the test opens as a serial port.
#pragma once

#include <string>

namespace testsupport {

// Points PELLORA_PORT_DIR at a fresh private folder for the guard's lifetime;
// the folder and its entries are removed afterwards and the old value returns.
class PtyPortDir {
public:
    PtyPortDir();
    ~PtyPortDir();
    PtyPortDir(const PtyPortDir&) = delete;
    PtyPortDir& operator=(const PtyPortDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// A pseudo-terminal in raw mode. The pair keeps one descriptor on the device
// end open itself, as a device would keep its line.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && slave_ >= 0; }
    const std::string& DevicePath() const { return path_; }
    // The device side's own descriptor (for queue counts and settings).
    int DeviceFd() const { return slave_; }

    bool WriteFromDevice(const std::string& bytes);
    // Reads what the port wrote until `want` bytes or the time is up.
    std::string ReadAtDevice(std::size_t want, int timeoutMs);
    // Bytes waiting for the port to read.
    int PendingForPort() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Output speed of a terminal in bits per second, any speed (-1 on failure).
int TerminalSpeed(int fd);

}  // namespace testsupport

// The device simulator on a pseudo-terminal: registration, transcript, the
// behaviour table and the fault knobs, seen from the program's side of the
// line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "PtyTestEnv.h"
#include "platform/ComPortName.h"
#include "platform/SerialPortScan.h"
#include "platform/PosixSerial.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"

namespace fs = std::filesystem;
using sim::TranscriptEntry;

namespace {

class SimOnPty : public ::testing::Test {
protected:
    void Start(sim::SimOptions options = {}) {
        if (options.port.empty()) options.port = "COM9";
        device_ = std::make_unique<sim::DeviceSimulator>(options);
        std::string error;
        ASSERT_TRUE(device_->Start(&error)) << error;
        device_->SetBehaviour("PQVR810", [](const sim::Sentence& s, sim::SimContext& ctx) {
            ctx.state["asked"] = std::to_string(std::stoi(ctx.state["asked"].empty() ? "0" : ctx.state["asked"]) + 1);
            return sim::Replies{sim::Reply::Sentence("PQVR852,TK515," + ctx.state["asked"] + "," + s.tag)};
        });
        port_ = platform::OpenSerialDevice(device_->DevicePath());
        ASSERT_NE(port_, nullptr);
        ASSERT_TRUE(port_->Configure(115200));
    }
    void TearDown() override {
        port_.reset();
        if (device_) device_->Stop();
    }
    void Write(const std::string& bytes) {
        std::uint32_t n = 0;
        ASSERT_TRUE(port_->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n));
    }
    // Reads until `want` bytes came or the time is up; counts the reads that brought bytes.
    std::string Read(std::size_t want, int timeoutMs = 2000, int* pieces = nullptr) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[256];
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            std::uint32_t n = 0;
            port_->Read(buffer, sizeof buffer, &n);
            if (n > 0 && pieces) ++*pieces;
            got.append(buffer, n);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return got;
    }
    std::vector<TranscriptEntry> Sent() {
        std::vector<TranscriptEntry> out;
        for (const auto& e : device_->Transcript())
            if (e.kind == TranscriptEntry::Kind::kSent) out.push_back(e);
        return out;
    }

    testsupport::PtyPortDir dir_;
    std::unique_ptr<sim::DeviceSimulator> device_;
    std::unique_ptr<platform::SerialChannel> port_;
};

const std::string kReply1 = sim::Frame("PQVR852,TK515,1,PQVR810");

}  // namespace

TEST_F(SimOnPty, RegistersAndRemovesItsEntry) {
    Start();
    const fs::path entry = fs::path(dir_.Path()) / "COM9";
    EXPECT_EQ(device_->PortName(), "COM9");
    EXPECT_EQ(fs::read_symlink(entry), device_->DevicePath());
    std::ifstream name(entry.string() + ".name");
    std::string text;
    std::getline(name, text);
    EXPECT_EQ(text, "CP210x USB to UART Bridge Controller");
    EXPECT_EQ(platform::ResolvePortDevice("//.//COM9"), device_->DevicePath());

    // The program closing its port does not end the device.
    port_.reset();
    port_ = platform::OpenSerialDevice(device_->DevicePath());
    ASSERT_NE(port_, nullptr);
    Write(sim::Frame("PQVR810"));
    EXPECT_EQ(Read(kReply1.size()), kReply1);

    device_->Stop();
    device_->Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(entry)));
    EXPECT_FALSE(fs::exists(entry.string() + ".name"));
}

TEST_F(SimOnPty, TakenPortIsRefusedAndFreeOneChosen) {
    Start();
    sim::SimOptions same;
    same.port = "COM9";
    sim::DeviceSimulator second(same);
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("COM9 is taken"), std::string::npos) << error;
    EXPECT_FALSE(second.Running());

    sim::SimOptions bad;
    bad.port = "COM51";
    sim::DeviceSimulator third(bad);
    EXPECT_FALSE(third.Start(&error));

    sim::SimOptions any;  // no port: lowest free from COM3
    any.friendlyText = "Prolific USB-to-Serial";
    sim::DeviceSimulator fourth(any);
    ASSERT_TRUE(fourth.Start(&error)) << error;
    const auto port = platform::ComPort::Parse(fourth.PortName());
    ASSERT_TRUE(port);
    const int number = port->Number();
    EXPECT_GE(number, 3);
    EXPECT_NE(number, 9);
    EXPECT_EQ(platform::ResolvePortDevice(fourth.PortName()), fourth.DevicePath());
}

TEST_F(SimOnPty, TranscriptAndBehaviourTable) {
    Start();
    Write("~~" + sim::Frame("PQVR810") + sim::FrameWithChecksum("PQVR810", 0x00) + "$BROKEN\r\n" +
          sim::Frame("PMTK000"));
    ASSERT_TRUE(device_->WaitForReceived(2, 2000));
    EXPECT_EQ(Read(kReply1.size()), kReply1);
    ASSERT_TRUE(device_->WaitForTranscript([](const auto& t) { return t.size() >= 6; }, 2000));
    const auto t = device_->Transcript();
    using K = TranscriptEntry::Kind;
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0].kind, K::kNoise);
    EXPECT_EQ(t[0].bytes, "~~");
    EXPECT_EQ(t[1].kind, K::kReceived);
    EXPECT_EQ(t[2].kind, K::kSent);
    EXPECT_EQ(t[2].bytes, kReply1);
    EXPECT_EQ(t[3].kind, K::kBadChecksum);  // no answer to it
    EXPECT_EQ(t[4].kind, K::kBadFrame);
    EXPECT_EQ(t[5].kind, K::kReceived);  // unknown tag: no answer
    const auto received = device_->Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].tag, "PMTK000");

    // Behaviours keep state between sentences, and may take bad checksums.
    device_->SetBehaviour("PMTK000", [](const sim::Sentence&, sim::SimContext&) {
        return sim::Replies{sim::Reply::Raw("!"), sim::Reply::Sentence("PMTK001,0,3")};
    }, true);
    device_->ClearTranscript();
    Write(sim::FrameWithChecksum("PMTK000", 0x21) + sim::Frame("PQVR810"));
    const std::string want = "!" + sim::Frame("PMTK001,0,3") + sim::Frame("PQVR852,TK515,2,PQVR810");
    EXPECT_EQ(Read(want.size()), want);
    EXPECT_EQ(Sent().size(), 3u);  // one write per reply
}

TEST_F(SimOnPty, SilenceDelayAndWrongChecksum) {
    sim::SimOptions options;
    options.faults.silent = true;
    Start(options);
    Write(sim::Frame("PQVR810"));
    ASSERT_TRUE(device_->WaitForReceived(1, 2000));
    EXPECT_EQ(Read(1, 100), "");

    sim::FaultOptions faults;
    faults.delayMs = 300;
    device_->SetFaults(faults);
    const auto start = std::chrono::steady_clock::now();
    Write(sim::Frame("PQVR810"));
    const std::string reply = Read(kReply1.size());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(reply, sim::Frame("PQVR852,TK515,2,PQVR810"));
    EXPECT_GE(waited, std::chrono::milliseconds(290));

    faults = {};
    faults.wrongChecksum = true;
    device_->SetFaults(faults);
    Write(sim::Frame("PQVR810"));
    const std::string body = "PQVR852,TK515,3,PQVR810";
    const std::string bad = Read(sim::Frame(body).size());
    EXPECT_EQ(bad.substr(0, body.size() + 2), "$" + body + "*");
    EXPECT_NE(bad, sim::Frame(body));
    sim::SentenceAssembler check;
    auto items = check.Feed(bad);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, sim::SentenceAssembler::Item::Kind::kBadChecksum);
}

TEST_F(SimOnPty, SplitEchoAndNoise) {
    sim::SimOptions options;
    options.faults.splitParts = 3;
    options.faults.splitPauseMs = 200;  // long enough to stay apart on a loaded machine
    Start(options);
    Write(sim::Frame("PQVR810"));
    int pieces = 0;
    EXPECT_EQ(Read(kReply1.size(), 2000, &pieces), kReply1);
    EXPECT_GE(pieces, 2);
    ASSERT_EQ(Sent().size(), 3u);
    EXPECT_EQ(Sent()[0].bytes + Sent()[1].bytes + Sent()[2].bytes, kReply1);

    sim::FaultOptions faults;
    faults.echo = true;
    device_->SetFaults(faults);
    const std::string unknown = sim::Frame("PMTK000");
    Write(unknown);
    EXPECT_EQ(Read(unknown.size()), unknown);
    // The echo sends raw bytes as they come: noise and an unfinished sentence
    // come back before any sentence is complete.
    const std::string query = sim::Frame("PQVR810");
    const std::string head = std::string("\0x", 2) + query.substr(0, 6);
    Write(head);
    EXPECT_EQ(Read(head.size()), head);
    Write(query.substr(6));  // the rest: the device answers after the echo
    EXPECT_EQ(Read(query.size() - 6 + kReply1.size()),
              query.substr(6) + sim::Frame("PQVR852,TK515,2,PQVR810"));

    faults = {};
    faults.lineNoise = true;
    device_->SetFaults(faults);
    Write(sim::Frame("PQVR810"));
    const std::string body = sim::Frame("PQVR852,TK515,3,PQVR810");
    std::string noisy = Read(body.size() + 3);
    noisy += Read(body.size() + 8 - noisy.size(), 1000);
    ASSERT_GE(noisy.size(), body.size() + 3);
    EXPECT_LE(noisy.size(), body.size() + 8);
    EXPECT_EQ(noisy.substr(noisy.size() - body.size()), body);

    faults.noiseBytes = std::string("$\0\0$", 4);
    device_->SetFaults(faults);
    Write(sim::Frame("PQVR810"));
    const std::string fixed = std::string("$\0\0$", 4) + sim::Frame("PQVR852,TK515,4,PQVR810");
    EXPECT_EQ(Read(fixed.size()), fixed);
}

// The noise may hold any byte, "$" and NUL included.
TEST(SimNoise, EveryByteValueOccurs) {
    std::mt19937 random(7);
    bool seen[256] = {};
    for (int i = 0; i < 2000; ++i) {
        const std::string noise = sim::RandomNoise(random);
        ASSERT_GE(noise.size(), 3u);
        ASSERT_LE(noise.size(), 8u);
        for (unsigned char c : noise) seen[c] = true;
    }
    EXPECT_EQ(std::count(std::begin(seen), std::end(seen), true), 256);
}

TEST_F(SimOnPty, DefaultModelAnswersNothing) {
    Start();
    device_->RemoveBehaviour("PQVR810");
    sim::InstallModelBehaviours(*device_, "");
    Write(sim::Frame("PQVR810") + sim::Frame("PMTK182,2,8"));
    ASSERT_TRUE(device_->WaitForReceived(2, 2000));
    EXPECT_EQ(Read(1, 100), "");
    EXPECT_TRUE(Sent().empty());
}

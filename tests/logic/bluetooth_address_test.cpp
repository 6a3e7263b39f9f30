// The Bluetooth address operations against the device simulator: the parse
// order, the written sentence, the carry past 0xFFFFFF, the stored value and
// its round trip, and the checks on replies and stored texts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PtyTestEnv.h"
#include "device/BluetoothAddress.h"
#include "device/SentencePort.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"

namespace bt = bluetooth;

TEST(BluetoothAddress, ParseOrderSentencesAndChecks) {
    BtAddress a{};
    ASSERT_TRUE(bt::ParsePmtk592("noise$PMTK592,0016A4123456*65\r\n", a));
    EXPECT_EQ(a, (BtAddress{0x56, 0x34, 0x12, 0xA4, 0x16, 0x00}));
    EXPECT_EQ(bt::FormatRegistryText(a), "56:34:12:A4:16:00");
    EXPECT_EQ(bt::BuildWriteSentence(a), "$PMTK392,0016A4,123456*4F\r\n");
    EXPECT_EQ(bt::DisplayText(a), "0:16:a4:12:34:56");
    EXPECT_EQ(bt::NmeaChecksumHex("$PMTK492"), "3D");
    EXPECT_EQ(bt::ParsePmtk592Value("$PMTK592,1234*00"), 1234);

    for (const char* bad : {"$PMTK592,0016A412345*00", "$PMTK592,0016A41234567*00", "$PMTK592,0016A41234ZZ*00",
                            "$PMTK592,0016A4123456", "$PMTK59"}) {
        BtAddress untouched = bt::kUnknownAddress;
        EXPECT_FALSE(bt::ParsePmtk592(bad, untouched)) << bad;
        EXPECT_EQ(untouched, bt::kUnknownAddress) << bad;
    }
    for (const char* bad : {"56:34:12:A4:16", "56-34-12-A4-16-00", "56:34:12:A4:16:0G", "56:34:12:A4:16:00:"}) {
        EXPECT_FALSE(bt::ParseRegistryText(bad, a)) << bad;
    }
    ASSERT_TRUE(bt::ParseRegistryText("80:FF:00:a4:16:9C", a));
    EXPECT_EQ(a, (BtAddress{0x80, 0xFF, 0x00, 0xA4, 0x16, 0x9C}));

    // The carry, the last address and the limit.
    BtAddress c{0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
    ASSERT_TRUE(bt::StepAddress(c));
    EXPECT_EQ(c, (BtAddress{0, 0, 0, 0x02, 0, 0}));
    BtAddress last = bt::kUnknownAddress;
    EXPECT_FALSE(bt::StepAddress(last));
    EXPECT_TRUE(bt::IsPastLimit({1, 0, 0, 2, 0, 0}, {0, 0, 0, 2, 0, 0}));
    EXPECT_TRUE(bt::IsPastLimit({0, 0, 0, 3, 0, 0}, {9, 9, 9, 2, 0, 0}));
    EXPECT_FALSE(bt::IsPastLimit({9, 9, 9, 1, 0, 0}, {0, 0, 0, 2, 0, 0}));
}

namespace {

class BluetoothOnSim : public ::testing::Test {
protected:
    void SetUp() override {
        RegistryStore::Instance().Clear();
        sim::SimOptions options;
        options.port = "COM23";
        device = std::make_unique<sim::DeviceSimulator>(options);
        state = sim::InstallModelBehaviours(*device, "L-731");
        std::string error;
        ASSERT_TRUE(device->Start(&error)) << error;
        link.linkPortName = "COM23";
    }
    void TearDown() override {
        link.ClosePort();
        device->Stop();
        RegistryStore::Instance().Clear();
    }
    std::string Stored() {
        std::string text;
        CTool().RegReadString(RegRoot::CurrentUser, bt::kRegistryValue, text);
        return text;
    }
    std::vector<std::string> Received(const std::string& tag) {
        std::vector<std::string> out;
        for (const auto& s : device->Received()) if (s.tag == tag) out.push_back(s.raw);
        return out;
    }

    platform::ScaledClock clock{10};  // the operations' waits, ten times faster
    platform::ScopedClock useClock{clock};
    testsupport::PtyPortDir dir;
    std::unique_ptr<sim::DeviceSimulator> device;
    std::shared_ptr<sim::DeviceState> state;
    SerialLink link;
    SerialLinkPort port{link, SerialLinkPort::CloseMode::kKeepName};
    BluetoothAddressOps ops;
};

}  // namespace

TEST_F(BluetoothOnSim, ReadsInReplyOrderAndStoresTheText) {
    state->Update([](sim::DeviceProfile& p) { p.btAddress = "0016A48012FE"; });
    ASSERT_TRUE(ops.ReadBtMac(port));
    EXPECT_EQ(ops.address, (BtAddress{0xFE, 0x12, 0x80, 0xA4, 0x16, 0x00}));
    EXPECT_EQ(Stored(), "FE:12:80:A4:16:00");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(Received("PMTK492").size(), 1u);

    // Written back unchanged: the same digits in the same order.
    EXPECT_EQ(ops.WriteBtMac(port), BluetoothAddressOps::WriteResult::kConfirmed);
    EXPECT_EQ(Received("PMTK392"), std::vector<std::string>{"$PMTK392,0016A4,8012FE*40\r\n"});
    EXPECT_EQ(state->Profile().btAddress, "0016A48012FE");
}

TEST_F(BluetoothOnSim, StoredValueStandsInForMissingOrBadReplies) {
    CTool().RegWriteString(RegRoot::CurrentUser, bt::kRegistryValue, "01:02:03:04:05:06");
    const BtAddress stored{1, 2, 3, 4, 5, 6};
    struct Case { const char* reply; bool answers; BtAddress expected; };
    for (const Case& c : {Case{"FFFFFFFFFFFF", true, stored}, Case{"0016A41234ZZ", true, stored},
                          Case{"", false, stored}, Case{"0016A4000009", true, {9, 0, 0, 0xA4, 0x16, 0}}}) {
        state->Update([&](sim::DeviceProfile& p) { p.btAddress = c.reply, p.bluetooth = c.answers; });
        ASSERT_TRUE(ops.ReadBtMac(port)) << c.reply;
        EXPECT_EQ(ops.address, c.expected) << c.reply;
        EXPECT_EQ(Stored(), bt::FormatRegistryText(c.expected)) << c.reply;
    }
    // No reply and nothing valid stored: unknown.
    CTool().RegWriteString(RegRoot::CurrentUser, bt::kRegistryValue, "garbage");
    state->Update([](sim::DeviceProfile& p) { p.bluetooth = false; });
    ASSERT_TRUE(ops.ReadBtMac(port));
    EXPECT_EQ(ops.address, bt::kUnknownAddress);
    EXPECT_EQ(Stored(), "FF:FF:FF:FF:FF:FF");
}

TEST_F(BluetoothOnSim, SteppingCarriesAndSendsInWriteOrder) {
    ops.address = {0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
    ops.limit = {0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(ops.WriteNextBtMac(port), BluetoothAddressOps::StepResult::kPortClosed);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(ops.WriteNextBtMac(port), BluetoothAddressOps::StepResult::kSent);
    EXPECT_EQ(ops.displayText, "0:0:1:ff:ff:ff");
    EXPECT_EQ(ops.WriteNextBtMac(port), BluetoothAddressOps::StepResult::kSent);
    EXPECT_EQ(ops.WriteNextBtMac(port), BluetoothAddressOps::StepResult::kOutOfRange);
    EXPECT_EQ(ops.statusText, "BT_MAC Out of range");
    EXPECT_EQ(ops.running.load(), 0);
    ASSERT_TRUE(device->WaitForReceived(2, 2000));
    EXPECT_EQ(Received("PMTK392"),
              (std::vector<std::string>{"$PMTK392,000001,FFFFFF*3B\r\n", "$PMTK392,000002,000000*38\r\n"}));
    EXPECT_EQ(state->Profile().btAddress, "000002000000");

    ops.FinishStepping();
    EXPECT_EQ(ops.WriteNextBtMac(port), BluetoothAddressOps::StepResult::kFinishSent);
    ASSERT_TRUE(device->WaitForReceived(4, 2000));
    EXPECT_EQ(Received("PMTK220"), std::vector<std::string>{"$PMTK220,1000*1F\r\n"});
    EXPECT_EQ(Received("PMTK492").size(), 1u);

    port.Close();
    ASSERT_TRUE(ops.ReadBtMac(port));
    EXPECT_EQ(ops.address, (BtAddress{0, 0, 0, 2, 0, 0}));
}

// Connect on the update page against the device simulator on a
// pseudo-terminal, one test per model. Waits run four times faster than real
// time, in proportion, so the polls still meet a real device.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cctype>
#include <memory>
#include <ostream>

#include "SimWindow.h"
#include "UiTestUtil.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "platform/Clock.h"
#include "platform/PortDirectory.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "shell/StringTable.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "support/UtilityManager.h"

namespace {

struct ModelCase {
    const char* preset;
    const char* firmware;  // empty: the preset's
    const char* hardware;
    int modelType;
    const char* typeText;
    const char* firmwareText;
    const char* hardwareText;
    int banner;
};

void PrintTo(const ModelCase& c, std::ostream* out) { *out << c.preset; }

class IdentifySimTest : public ::testing::TestWithParam<ModelCase>, protected testsupport::SimWindow {
protected:
    void Start(const std::string& preset, const std::string& firmware = "", const std::string& hardware = "",
               const std::string& friendlyText = "CP210x USB to UART Bridge Controller") {
        ASSERT_TRUE(StartDevice(preset, firmware, hardware, friendlyText));
        StartWindow();
    }
    void ConnectFound() {
        page->SendCommand(1005);
        ASSERT_EQ(page->GetDlgItemText(1003), res::LoadString(450));
        ASSERT_EQ(page->GetCurSel(1116), platform::ParseComPortName(device->PortName()) - 1);
        page->SendCommand(1002);
        window->SetTickThread(false);
    }
};

TEST_P(IdentifySimTest, ConnectIdentifiesTheModel) {
    const ModelCase& c = GetParam();
    Start(c.preset, c.firmware, c.hardware);
    ConnectFound();
    EXPECT_EQ(page->GetDlgItemText(1003), res::LoadString(311));
    EXPECT_EQ(theUtility.modelType, c.modelType);
    EXPECT_EQ(page->GetDlgItemText(1011), c.typeText);
    EXPECT_EQ(page->GetDlgItemText(1013), c.firmwareText);
    EXPECT_EQ(page->GetDlgItemText(1199), c.hardwareText);
    EXPECT_TRUE(page->IsDlgItemEnabled(1192));
    EXPECT_FALSE(page->IsDlgItemEnabled(1002));
    EXPECT_FALSE(page->IsDlgItemEnabled(1224));
    EXPECT_TRUE(window->FirmwarePage()->IsDlgItemEnabled(1006));
    EXPECT_EQ(window->GetDlgItemBitmap(1046), c.banner);
    EXPECT_TRUE(window->IsDlgItemEnabled(1));
    EXPECT_TRUE(window->IsDlgItemEnabled(1095));
    EXPECT_FALSE(page->IsPortOpen());
    EXPECT_EQ(page->ConnectionPicture(), 131);
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
    if (c.modelType == 7) {
        QApplication::processEvents();
        const QImage image = window->GetWidget()->grab().toImage();
        EXPECT_TRUE(image.save(QString::fromStdString(testsupport::ArtifactDir() + "/update_page_zep_ion.png")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, IdentifySimTest,
    ::testing::Values(ModelCase{"L-731", "105", "C1", 3, "L-731", "V1.05", "V01", 141},
                      ModelCase{"RVN-3", "210", "02", 4, "RVN-3", "V2.10", "V02", 141},
                      ModelCase{"L-4400C", "120", "03", 6, "L-4400C", "V1.20", "V03", 129},
                      ModelCase{"L4500", "130", "03", 5, "L-4400C", "V1.30", "V03", 129},
                      ModelCase{"ZEP ION", "305", "04", 7, "ZEP ION", "V3.05", "V04", 141}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
        std::string name;
        for (const char* p = info.param.preset; *p; ++p) {
            if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
        }
        return name;
    });

using IdentifyFailureTest = IdentifySimTest;

TEST_F(IdentifyFailureTest, AnUnknownModelNameEndsWith315) {
    Start("unknown");
    ConnectFound();
    EXPECT_EQ(page->GetDlgItemText(1003), res::LoadString(315));
    EXPECT_EQ(theUtility.modelType, 0);
    EXPECT_EQ(page->GetDlgItemText(1011), " ");
    EXPECT_TRUE(page->IsDlgItemEnabled(1002));
    EXPECT_TRUE(page->IsDlgItemEnabled(1239));
    EXPECT_FALSE(page->IsDlgItemEnabled(1192));
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
}

TEST_F(IdentifyFailureTest, ASilentDeviceEndsWith315) {
    Start("silent");
    ConnectFound();
    EXPECT_EQ(page->GetDlgItemText(1003), res::LoadString(315));
    EXPECT_TRUE(page->IsDlgItemEnabled(1002));
    EXPECT_TRUE(page->IsDlgItemEnabled(1239));
    int modelQueries = 0, fallbacks = 0;
    for (const auto& s : device->Received()) {
        modelQueries += (s.body == "PQVR810");
        fallbacks += (s.body == "ORVIK731,1");
    }
    EXPECT_EQ(modelQueries, 3);
    EXPECT_EQ(fallbacks, 3);
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
}

TEST_F(IdentifyFailureTest, WithoutABridgeAutoDetectFallsBackToCom1) {
    Start("ZEP ION", "", "", "Generic Serial Port");
    page->SendCommand(1005);
    EXPECT_EQ(page->GetDlgItemText(1003), res::LoadString(449));
    EXPECT_EQ(page->GetCurSel(1116), 0);
    EXPECT_TRUE(page->IsDlgItemEnabled(1116));
    EXPECT_TRUE(page->IsDlgItemEnabled(1002));
}

}  // namespace

// Connect on the update page against the device simulator on a
// pseudo-terminal, one test per model. Waits run four times faster than real
// time, in proportion, so the polls still meet a real device.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cctype>
#include <memory>

#include "SimWindow.h"
#include "UiTestUtil.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "platform/Clock.h"
#include "platform/ComPortName.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template147.h"

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
        page->SendCommand(dialog133::kAutoDetect);
        ASSERT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(450));
        ASSERT_EQ(page->GetCurSel(dialog133::kPortCombo), platform::ComPort::Parse(device->PortName())->ComboIndex());
        page->SendCommand(dialog133::kConnect);
        window->SetTickThread(false);
    }
};

TEST_P(IdentifySimTest, ConnectIdentifiesTheModel) {
    const ModelCase& c = GetParam();
    Start(c.preset, c.firmware, c.hardware);
    ConnectFound();
    EXPECT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(311));
    EXPECT_EQ(theUtility.modelType, c.modelType);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), c.typeText);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFirmware), c.firmwareText);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kHardware), c.hardwareText);
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kSelectFile));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kExecute));
    EXPECT_TRUE(window->FirmwarePage()->IsDlgItemEnabled(dialog147::kDownload));
    EXPECT_EQ(window->GetDlgItemBitmap(dialog102::kBanner), c.banner);
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kOk));
    EXPECT_TRUE(window->IsDlgItemEnabled(dialog102::kAbout));
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
    EXPECT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(315));
    EXPECT_EQ(theUtility.modelType, 0);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kDeviceType), " ");
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
    EXPECT_FALSE(page->IsDlgItemEnabled(dialog133::kSelectFile));
    EXPECT_EQ(LastReceived(), "ORVIK731,2");
}

TEST_F(IdentifyFailureTest, ASilentDeviceEndsWith315) {
    Start("silent");
    ConnectFound();
    EXPECT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(315));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kForceUpdate));
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
    page->SendCommand(dialog133::kAutoDetect);
    EXPECT_EQ(page->GetDlgItemText(dialog133::kConnectStatus), res::LoadString(449));
    EXPECT_EQ(page->GetCurSel(dialog133::kPortCombo), 0);
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kPortCombo));
    EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
}

}  // namespace

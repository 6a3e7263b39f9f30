// The GPS status page: the fixed fields after start-up, and nothing on the
// page changes them or sends anything: page commands, a time zone, a reset
// mode, Reset.
#include <gtest/gtest.h>

#include "FakeWindow.h"
#include "device/GpsStatusValues.h"
#include "device/PageGPSStatus.h"
#include "shell/OrvikUtilityDlg.h"
#include "ui/Page.h"
#include "ui/templates/Template129.h"

using namespace dialog129;

namespace {

// Everything the page shows.
std::vector<std::string> Shown(const CPage& page) {
    std::vector<std::string> shown;
    for (int id : {kUtcTime, kLocalTime, kLatitude, kLongitude, kAltitude, kSpeed}) {
        shown.push_back(page.GetDlgItemText(id));
    }
    for (int i = 0; i < page.GetItemCount(kTimeZone); ++i) shown.push_back(page.GetItemText(kTimeZone, i));
    return shown;
}

}  // namespace

TEST(GpsStatusPage, FixedValuesStayWhateverIsDone) {
    testsupport::FakeWindow fake;
    ASSERT_TRUE(fake.Start());
    CPage* page = fake.window->Page(COrvikUtilityDlg::kSlotGpsStatus);
    const std::vector<std::string> fixed = Shown(*page);
    ASSERT_EQ(fixed.size(), 6u + 25u);
    EXPECT_EQ(std::vector<std::string>(fixed.begin(), fixed.begin() + 6),
              (std::vector<std::string>{"2006/12/04 04:00:00", "2006/12/04 12:00:00", "24.997132 N", "121.485058 E",
                                        "127.9 m", "0.00 km/h"}));
    EXPECT_EQ(page->GetItemText(kTimeZone, page->GetCurSel(kTimeZone)), "+8");
    EXPECT_TRUE(page->IsDlgButtonChecked(kHotStart));

    for (unsigned command = PAGECMD_OK; command <= PAGECMD_DEFAULT + 1; ++command) {
        page->SendMessage(WM_PAGE_COMMAND, command, 0);
    }
    page->SetCurSel(kTimeZone, 12);
    page->SendCommand(kTimeZone, platform::notify::kSelChange);
    page->SendCommand(kColdStart);
    page->SendCommand(kReset);
    EXPECT_EQ(Shown(*page), fixed);
    EXPECT_TRUE(page->HasWindow());
    // A reset mode is chosen as radio buttons of one group choose; none is sent.
    for (int id : {kHotStart, kWarmStart, kColdStart, kFactoryReset}) {
        EXPECT_EQ(page->IsDlgButtonChecked(id), id == kColdStart) << id;
    }
    EXPECT_TRUE(fake.serial.Events().empty());
    EXPECT_EQ(page->PageCommandCount(PAGECMD_APPLY), 1);
}

// What a screen reader hears. Every control of every page and dialog has a
// name: its own (its caption, or the name the dialog gives a control that
// shows none) or that of the static tied to it. Fields are named by the static
// before them in the template and follow its text; the tab names its pages
// without showing their names.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <optional>
#include <vector>

#include "EveryDialog.h"
#include "device/PageDeviceSetting.h"
#include "platform/Controls.h"
#include "shell/OrvikUtilityDlg.h"
#include "ui/StringTable.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template129.h"
#include "ui/templates/Template130.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template134.h"
#include "ui/templates/Template135.h"
#include "ui/templates/Template136.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template145.h"
#include "ui/templates/Template146.h"
#include "ui/templates/Template147.h"

namespace {

std::string AccessibleName(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face ? face->text(QAccessible::Name).toStdString() : std::string();
}

// The name of the static that labels the object.
std::string LabelledBy(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    if (!face) return {};
    const auto relations = face->relations(QAccessible::Label);
    return relations.isEmpty() ? std::string() : relations.front().first->text(QAccessible::Name).toStdString();
}

// A picture or a frame without a title: nothing a screen reader stops at.
bool IsDecoration(QWidget* w) {
    auto* frame = qobject_cast<QGroupBox*>(w);
    return qobject_cast<platform::ImageStatic*>(w) || (frame && frame->title().isEmpty());
}

constexpr int kTheDialog = -2;  // the dialog's own window

struct ExpectedName {
    int dialog;
    int control;
    // Its own name; for a combo box, whose own name is its current text, the
    // name of its label.
    std::string name;
    int label = 0;                      // the static tied to it, named alike
    std::optional<std::string> shows{};  // what it shows meanwhile
};

// Built when the test runs, once the string table is there.
std::vector<ExpectedName> ExpectedNames() {
    return {
        {133, dialog133::kPortCombo, "手動設定", dialog133::kPortLabel},
        {133, dialog133::kDeviceType, "品番", dialog133::kDeviceTypeLabel},
        {133, dialog133::kHardware, "ハードウエア", dialog133::kHardwareLabel},
        {133, dialog133::kFirmware, "ファイルバージョン", dialog133::kFirmwareLabel},
        {133, dialog133::kFileProduct, "適合製品", dialog133::kFileProductLabel},
        {133, dialog133::kFileVersion, "更新ファイル Ver", dialog133::kFileVersionLabel},
        {133, dialog133::kFileHardware1, "適合バージョン", dialog133::kFileHardwareLabel},
        {133, dialog133::kFileHardware5, "適合バージョン"},
        {133, dialog133::kFilePath, res::LoadString(431), 0, ""},
        {133, dialog133::kProgress, res::LoadString(404)},
        {102, dialog102::kTab, res::LoadString(300)},
        {129, dialog129::kLocalTime, "Local Time"},
        {129, dialog129::kTimeZone, "Select Time Zone of Country (UTC)"},
        {130, dialog130::kInterval, "Log by Time"},
        {130, dialog130::kUploadProgress, "Upload Device Track Log Data to PC"},
        {134, dialog134::kName, "Waypoints Name", dialog134::kNameLabel},
        {134, dialog134::kVersion, "Waypoints Version", dialog134::kVersionLabel},
        {134, dialog134::kDate, "Waypoints Date", dialog134::kDateLabel},
        {134, dialog134::kStatus, "Download Status Message", 0, ""},
        {135, dialog135::kSourceEdit, "Source File(*.trl):"},
        {136, dialog136::kConvert, "Convert", 0, res::LoadString(358)},
        {136, dialog136::kSourceEdit, "Source File(*.trl):"},
        {136, dialog136::kZoneCombo, "Time Zone(UTC+-):"},
        {136, dialog136::kStatusText, "Convert Status Message"},
        {136, dialog136::kOutputKml, "Google Earth(*.kml)"},
        {144, dialog144::kBrowseTrackLog, "TrackLog File Directory"},
        {145, kTheDialog, "Photo Combine Setting"},
        {145, dialog145::kDaysEdit, "Day"},
        {145, dialog145::kSecondsSpin, "Sec"},
        {146, dialog146::kFileList, "Track Log File Status"},
        {147, dialog147::kProgress, res::LoadString(404)},
        {147, dialog147::kFilePath, res::LoadString(402)},
    };
}

class AccessibleNamesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(every.Start()); }
    testsupport::EveryDialog every;
};

TEST_F(AccessibleNamesTest, EveryControlOfEveryPageAndDialogHasAName) {
    for (const platform::Dialog* dialog : every.All()) {
        for (const testsupport::Control& c : testsupport::ControlsOf(*dialog)) {
            ASSERT_NE(c.widget, nullptr) << testsupport::Describe(*dialog, c) << " is missing";
            if (c.widget->isHidden() || IsDecoration(c.widget)) continue;
            EXPECT_FALSE(AccessibleName(c.widget).empty() && LabelledBy(c.widget).empty())
                << testsupport::Describe(*dialog, c) << " has no name";
        }
    }
}

TEST_F(AccessibleNamesTest, ControlsHaveTheirOwnNames) {
    for (const ExpectedName& e : ExpectedNames()) {
        const platform::Dialog* dialog = every.ById(e.dialog);
        ASSERT_NE(dialog, nullptr) << e.dialog;
        QWidget* w = e.control == kTheDialog ? dialog->GetWidget() : dialog->GetDlgItem(e.control);
        const std::string where = "dialog " + std::to_string(e.dialog) + " control " + std::to_string(e.control);
        ASSERT_NE(w, nullptr) << where;
        EXPECT_EQ(qobject_cast<QComboBox*>(w) ? LabelledBy(w) : AccessibleName(w), e.name) << where;
        if (e.label) {
            EXPECT_EQ(LabelledBy(w), e.name) << where;
            EXPECT_EQ(dialog->Item<QLabel>(e.label)->buddy(), w) << where;
        }
        if (e.shows) {
            EXPECT_EQ(dialog->GetDlgItemText(e.control), *e.shows) << where;
        }
    }
}

TEST_F(AccessibleNamesTest, AFieldFollowsItsStaticAndTheTabNamesItsFirstPageWithoutShowingIt) {
    platform::Dialog* page = every.fake.window->DevicePage();
    page->SetDlgItemText(dialog133::kDeviceTypeLabel, "Type");
    EXPECT_EQ(AccessibleName(page->GetDlgItem(dialog133::kDeviceType)), "Type");

    auto* tab = every.fake.window->Item<platform::TabControlWidget>(dialog102::kTab);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->Bar()->accessibleTabName(0).toStdString(), res::LoadString(300));
    EXPECT_EQ(tab->GetItemText(0).toStdString(), "");
}

}  // namespace

// What a screen reader hears: each field of the update page is named by the
// static before it in the template, and follows that static's text; the
// file-path field and the tab have names although they show none. Every
// control of the waypoint page has a name.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QTabBar>

#include "FakeWindow.h"
#include "device/PageDeviceSetting.h"
#include "export/PageTrackLogFormat.h"
#include "export/PageTrackLogPhoto.h"
#include "export/PhotoCSDlg.h"
#include "device/PageDownloadFW.h"
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
#include "ui/templates/Template145.h"
#include "ui/templates/Template147.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template146.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "tracklog/StepByStepDlg.h"
#include "tracklog/TrackLogFileStatusDlg.h"

namespace {

std::string AccessibleName(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face ? face->text(QAccessible::Name).toStdString() : std::string();
}

// The name of what labels the object (a combo box's name is its current
// text; its label comes through this relation).
std::string LabelledBy(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    if (!face) return {};
    const auto relations = face->relations(QAccessible::Label);
    return relations.isEmpty() ? std::string() : relations.front().first->text(QAccessible::Name).toStdString();
}

class AccessibleNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Start());
        window = fake.window.get();
        page = fake.page;
    }

    testsupport::FakeWindow fake;
    COrvikUtilityDlg* window = nullptr;
    CPageDeviceSetting* page = nullptr;
};

TEST_F(AccessibleNamesTest, FieldsAreNamedByTheStaticBeforeThem) {
    using namespace dialog133;
    const struct {
        int field;
        int label;
        const char* name;
    } kFields[] = {
        {kPortCombo, kPortLabel, "手動設定"},        {kDeviceType, kDeviceTypeLabel, "品番"},
        {kHardware, kHardwareLabel, "ハードウエア"}, {kFirmware, kFirmwareLabel, "ファイルバージョン"},
        {kFileProduct, kFileProductLabel, "適合製品"}, {kFileVersion, kFileVersionLabel, "更新ファイル Ver"},
        {kFileHardware1, kFileHardwareLabel, "適合バージョン"},
    };
    for (const auto& f : kFields) {
        QWidget* field = page->GetDlgItem(f.field);
        if (f.field != kPortCombo) {
            EXPECT_EQ(AccessibleName(field), f.name) << f.field;
        }
        EXPECT_EQ(LabelledBy(field), f.name) << f.field;
        EXPECT_EQ(page->Item<QLabel>(f.label)->buddy(), field) << f.field;
    }
    // The name follows the static's text.
    page->SetDlgItemText(kDeviceTypeLabel, "Type");
    EXPECT_EQ(AccessibleName(page->GetDlgItem(kDeviceType)), "Type");
}

TEST_F(AccessibleNamesTest, ThePathFieldAndTheTabAreNamedWithoutVisibleText) {
    QWidget* path = page->GetDlgItem(dialog133::kFilePath);
    EXPECT_EQ(AccessibleName(path), res::LoadString(431));
    EXPECT_EQ(page->GetDlgItemText(dialog133::kFilePath), "");

    auto* tab = window->Item<platform::TabControlWidget>(dialog102::kTab);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(AccessibleName(tab), res::LoadString(300));
    EXPECT_EQ(tab->Bar()->accessibleTabName(0).toStdString(), res::LoadString(300));
    EXPECT_EQ(tab->GetItemText(0).toStdString(), "");  // the tab shows no label
}

TEST_F(AccessibleNamesTest, EveryControlOfTheWaypointPageHasAName) {
    using namespace dialog134;
    const CPage* waypoints = window->Page(COrvikUtilityDlg::kSlotWayPoint);
    for (const platform::ControlTemplate& c : res::Template134().controls) {
        QWidget* control = waypoints->GetDlgItem(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_NE(AccessibleName(control), "") << "control " << c.id;
    }
    const struct {
        int field;
        int label;
        const char* name;
    } kFields[] = {
        {kName, kNameLabel, "Waypoints Name"},
        {kVersion, kVersionLabel, "Waypoints Version"},
        {kDate, kDateLabel, "Waypoints Date"},
    };
    for (const auto& f : kFields) {
        EXPECT_EQ(AccessibleName(waypoints->GetDlgItem(f.field)), f.name) << f.field;
        EXPECT_EQ(waypoints->Item<QLabel>(f.label)->buddy(), waypoints->GetDlgItem(f.field)) << f.field;
    }
    // The status line shows nothing yet and is named all the same.
    EXPECT_EQ(waypoints->GetDlgItemText(kStatus), "");
    EXPECT_EQ(AccessibleName(waypoints->GetDlgItem(kStatus)), "Download Status Message");
}

// Every control of the photo link page and of its settings dialog has a name,
// although the string table leaves most of their captions empty.
TEST_F(AccessibleNamesTest, EveryPhotoControlIsNamed) {
    CPage* page = window->Page(COrvikUtilityDlg::kSlotPhoto);
    ASSERT_NE(dynamic_cast<CPageTrackLogPhoto*>(page), nullptr);
    CPhotoCSDlg settings;
    ASSERT_TRUE(settings.Create(static_cast<QWidget*>(nullptr)));
    for (const platform::Dialog* dialog : {static_cast<const platform::Dialog*>(page),
                                           static_cast<const platform::Dialog*>(&settings)}) {
        for (const auto& c : dialog->Template().controls) {
            QWidget* control = dialog->GetDlgItem(c.id);
            ASSERT_NE(control, nullptr) << c.id;
            const std::string name = qobject_cast<QComboBox*>(control) ? LabelledBy(control) : AccessibleName(control);
            EXPECT_FALSE(name.empty() && AccessibleName(control).empty())
                << "template " << dialog->Template().id << " control " << c.id << " has no name";
        }
    }
    EXPECT_EQ(AccessibleName(settings.GetDlgItem(dialog145::kDaysEdit)), "Day");
    EXPECT_EQ(AccessibleName(settings.GetDlgItem(dialog145::kSecondsSpin)), "Sec");
    EXPECT_EQ(AccessibleName(page->GetDlgItem(dialog135::kSourceEdit)), "Source File(*.trl):");
    EXPECT_EQ(AccessibleName(settings.GetWidget()), "Photo Combine Setting");
}

TEST_F(AccessibleNamesTest, EveryControlOfTheTrackLogPageHasAName) {
    CPage* trackLog = window->Page(COrvikUtilityDlg::kSlotTrackLogSetting);
    for (const auto& c : trackLog->Template().controls) {
        EXPECT_FALSE(AccessibleName(trackLog->GetDlgItem(c.id)).empty()) << c.id;
    }
    EXPECT_EQ(AccessibleName(trackLog->GetDlgItem(dialog130::kInterval)), "Log by Time");
    EXPECT_EQ(AccessibleName(trackLog->GetDlgItem(dialog130::kUploadProgress)), "Upload Device Track Log Data to PC");
}

// Every control a user can reach on the logger page and the upload's
// dialogs is named: by its own text, or by the name the dialog gives it.
void ExpectEveryControlNamed(const platform::Dialog& dialog) {
    for (const auto& c : dialog.Template().controls) {
        if (c.id == platform::kNoId || !(c.style & platform::kVisible)) continue;
        if (c.kind == platform::ControlKind::Static || c.kind == platform::ControlKind::GroupBox) continue;
        QWidget* w = dialog.GetDlgItem(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        const std::string name = AccessibleName(w);
        EXPECT_FALSE(name.empty() && LabelledBy(w).empty()) << "dialog " << dialog.Template().id << " control " << c.id;
    }
}

TEST_F(AccessibleNamesTest, TheLoggerPageAndTheUploadDialogsNameEveryControl) {
    ExpectEveryControlNamed(*window->LoggerPage());
    CStepByStepDlg transform;
    ASSERT_TRUE(transform.Create(static_cast<QWidget*>(nullptr)));
    ExpectEveryControlNamed(transform);
    EXPECT_EQ(AccessibleName(transform.GetDlgItem(dialog144::kBrowseTrackLog)), "TrackLog File Directory");
    CTrackLogFileStatusDlg status;
    ASSERT_TRUE(status.Create(static_cast<QWidget*>(nullptr)));
    ExpectEveryControlNamed(status);
    EXPECT_EQ(AccessibleName(status.GetDlgItem(dialog146::kFileList)), "Track Log File Status");
}

// Every control of the format conversion page has a name, although the
// string table leaves the captions of its labels, status and Convert empty.
TEST_F(AccessibleNamesTest, EveryFormatPageControlIsNamed) {
    using namespace dialog136;
    CPage* page = window->Page(COrvikUtilityDlg::kSlotFormat);
    ASSERT_NE(dynamic_cast<CPageTrackLogFormat*>(page), nullptr);
    for (const auto& c : page->Template().controls) {
        QWidget* control = page->GetDlgItem(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_NE(AccessibleName(control), "") << "control " << c.id << " has no name";
    }
    EXPECT_EQ(page->GetDlgItemText(kConvert), res::LoadString(358));
    EXPECT_EQ(AccessibleName(page->GetDlgItem(kConvert)), "Convert");
    EXPECT_EQ(AccessibleName(page->GetDlgItem(kSourceEdit)), "Source File(*.trl):");
    EXPECT_EQ(LabelledBy(page->GetDlgItem(kZoneCombo)), "Time Zone(UTC+-):");  // a combo's name is its text
    EXPECT_EQ(AccessibleName(page->GetDlgItem(kStatusText)), "Convert Status Message");
    EXPECT_EQ(AccessibleName(page->GetDlgItem(kOutputKml)), "Google Earth(*.kml)");
}

}  // namespace

TEST_F(AccessibleNamesTest, EveryControlOfTheFirmwareAndGpsStatusPagesHasAName) {
    for (CPage* p : {static_cast<CPage*>(window->FirmwarePage()), window->Page(COrvikUtilityDlg::kSlotGpsStatus)}) {
        for (QWidget* w : p->GetWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isHidden()) continue;
            const bool named = !AccessibleName(w).empty() || !LabelledBy(w).empty();
            EXPECT_TRUE(named) << "page " << p->Template().id << ": " << w->metaObject()->className();
        }
    }
    CPage* gps = window->Page(COrvikUtilityDlg::kSlotGpsStatus);
    EXPECT_EQ(AccessibleName(gps->GetDlgItem(dialog129::kLocalTime)), "Local Time");
    EXPECT_EQ(LabelledBy(gps->GetDlgItem(dialog129::kTimeZone)), "Select Time Zone of Country (UTC)");
    EXPECT_EQ(AccessibleName(window->FirmwarePage()->GetDlgItem(dialog147::kProgress)), res::LoadString(404));
    EXPECT_EQ(AccessibleName(window->FirmwarePage()->GetDlgItem(dialog147::kFilePath)), res::LoadString(402));
}

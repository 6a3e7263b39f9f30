// Every static that shows a text of the string table shows all of it at the
// page font: for each visible static and each text it can show, the text
// wrapped to the control's width is no wider and no taller than the control.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QComboBox>
#include <QGroupBox>
#include <string>
#include <vector>

#include "FakeWindow.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "export/PageTrackLogFormat.h"
#include "export/PageTrackLogPhoto.h"
#include "export/PhotoCSDlg.h"
#include "shell/AboutDlg.h"
#include "shell/OrvikUtilityDlg.h"
#include "tracklog/BlockTransfer.h"
#include "tracklog/WaypointDownload.h"
#include "tracklog/TrackLogSettings.h"
#include "tracklog/TrackLogFileStatusDlg.h"
#include "ui/StringTable.h"
#include "ui/templates/Template100.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template130.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template134.h"
#include "ui/templates/Template135.h"
#include "ui/templates/Template136.h"
#include "ui/templates/Template145.h"
#include "ui/templates/Template143.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template147.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "tracklog/StepByStepDlg.h"

namespace {

struct StaticTexts {
    int id;
    std::vector<int> stringIds;
    std::vector<std::string> literals = {};
};

// What each static of a dialog can show.
const std::vector<StaticTexts> kUpdatePage = {
    {dialog133::kWarning, {401, 452, 453}},
    {dialog133::kPortLabel, {448}},
    {dialog133::kConnectStatus, {309, 310, 311, 315, 449, 450}},
    {dialog133::kDeviceTypeLabel, {318}},
    {dialog133::kHardwareLabel, {430}},
    {dialog133::kFirmwareLabel, {320}},
    {dialog133::kFileProductLabel, {418}},
    {dialog133::kFileVersionLabel, {419}},
    {dialog133::kFileHardwareLabel, {420}},
    {dialog133::kFileVerdict, {440, 116, 435, 436, 437, 438, 439}},
    {dialog133::kPercent, {}, {"0%", "100%"}},
    {dialog133::kUpdateState, {443, 405, 406, 407, 408, 409, 410, 411, 445, 446, 447}},
};
const std::vector<StaticTexts> kFirmwarePage = {
    {dialog147::kWarning, {401}},
    {dialog147::kStatus, {404, 405, 406, 407, 408, 409, 410, 411, 413}},
    {dialog147::kPercent, {}, {"0%", "100%", "255%"}},
};
const std::vector<StaticTexts> kWaypointPage = {
    {dialog134::kNameLabel, {}, {"Waypoints Name"}},
    {dialog134::kVersionLabel, {}, {"Waypoints Version"}},
    {dialog134::kDateLabel, {}, {"Waypoints Date"}},
    {dialog134::kDownloadLabel, {}, {"Download Waypoints to the Device"}},
    {dialog134::kPercent, {}, {"0%", "100%"}},
    {dialog134::kStatus,
     {},
     {"Download Status Message", waypoint::kStatusStarting, blocks::kStatusDownloading, blocks::kStatusFinishing,
      waypoint::kStatusDone, blocks::kTextNoResponse, blocks::kTextCannotOpenFile, blocks::kTextFileTooLarge,
      blocks::kTextNoPort, blocks::kTextRefused, blocks::kTextHeaderRefused, blocks::kTextAborted,
      blocks::kTextDeviceSilent, blocks::kTextTooManyRepeats, blocks::kTextBadAnswer, blocks::kTextPortFailed,
      blocks::kTextStopped}},
};
// What each one-line field of a dialog shows.
struct FieldTexts {
    int id;
    std::vector<std::string> texts;
};
const std::vector<FieldTexts> kWaypointFields = {
    {dialog134::kName, {waypoint::kDefaultFileName, "waypoints_crlf.mpt"}},
    {dialog134::kVersion, {waypoint::kDefaultFileVersion}},
    {dialog134::kDate, {waypoint::kDefaultFileDate, "2008/03/07 02:15 PM", "2008/12/28 12:58 AM"}},
};
const std::vector<StaticTexts> kPhotoPage = {
    {dialog135::kSourceLabel, {354}},
    {dialog135::kPhotoFolderLabel, {364}},
    {dialog135::kStatusText, {359, 360, 361}},
};
const std::vector<StaticTexts> kFormatPage = {
    {dialog136::kSourceLabel, {354}},
    {dialog136::kZoneLabel, {355}},
    {dialog136::kOutputLabel, {356}},
    {dialog136::kStatusText, {359, 360, 361}},
};
const std::vector<StaticTexts> kPhotoSettings = {
    {dialog145::kZoneLabel, {371}},
    {dialog145::kCalibrateLabel, {372}},
    {dialog145::kDaysLabel, {373}},
    {dialog145::kHoursLabel, {374}},
    {dialog145::kMinutesLabel, {375}},
    {dialog145::kSecondsLabel, {376}},
    {dialog145::kDiscardLabel,
     {},
     {res::LoadString(393) + "\n(1) " + res::LoadString(394) + "\n(2) " + res::LoadString(395) + "\n"}},
};
const std::vector<StaticTexts> kTrackLogPage = {
    {dialog130::kReadLabel, {}, {"Read Setting from Device"}},
    {dialog130::kReadStatus,
     {},
     {"Read Status Messasge", tracklogtext::kWaiting, tracklogtext::kUpdating, tracklogtext::kReadDone,
      TrackLogSettings::ReadStatusText(TrackLogSettings::ReadResult::kNotConnected),
      TrackLogSettings::ReadStatusText(TrackLogSettings::ReadResult::kNoReply),
      TrackLogSettings::ReadStatusText(TrackLogSettings::ReadResult::kBadReply), "Apply Setting Failed."}},
    {dialog130::kSecondLabel, {}, {"Second"}},
    {dialog130::kDistanceUnit, {}, {"Meter", "Foot"}},
    {dialog130::kStatus,
     {},
     {"Upload/Clear Status Message", tracklogtext::kWaiting, tracklogtext::kUploading, blocks::kStatusFinishing,
      tracklogtext::kUploadDone, tracklogtext::kUploadFailed, tracklogtext::kOutputFailed, tracklogtext::kClearDone,
      tracklogtext::kClearFailed}},
    {dialog130::kUploadLabel, {}, {"Upload Device Track Log Data to PC"}},
    {dialog130::kUploadPercent, {}, {"0%", "100%"}},
    {dialog130::kClearLabel, {}, {"Clear Device Track Log Data"}},
    {dialog130::kClearPercent, {}, {"0%", "100%"}},
};
// The logger settings page's status lines show the page's own texts.
const std::vector<StaticTexts> kLoggerPage = {
    {dialog143::kSettingStatus,
     {331, 335, 336, 337, 379},
     {"Connection to Device Failed", "Reading Record Mode Settings....", "Updating Record Mode Settings....",
      "Update Setting Successfully.", "Log Interval Setting....", "Log Distance Setting....",
      "Record Mode Setting....", "Apply Setting Successfully.", "Setting Failed! The device did not confirm it.",
      "Setting  Status Messasge"}},
    {dialog143::kProcessStatus,
     {338, 339, 340, 341, 342, 392},
     {"Clear Failed! No Device Connected! ", "Clearing Device Track Log Data....",
      "Clear Device Track Log Data Successfully.", "Clear Failed! The device did not confirm the erase.",
      "Cleared. The free record count could not be read.", "Upload/Clear Status Message",
      "Uploading Device Track Log Data....", "Upload Cancelled.", "Total mins: 59, secs: 59",
      "Upload Completed. Total mins: 59, secs: 59", "Upload Failed! The device stopped answering.",
      "Upload Failed! No Device Connected! ", "Upload Failed! The device was disconnected. ",
      "Upload Failed! The read request could not be sent. ", "Upload Failed! Mirel.trl could not be written. "}},
    {dialog143::kUploadPercent, {}, {"0%", "100%"}},
    {dialog143::kIntervalUnit, {328}, {"Sec."}},
    {dialog143::kDistanceUnit, {330, 396}, {"Meter", "Feet"}},
    {dialog143::kUploadLabel, {343}, {"Upload Device Track Log Data to PC"}},
    {dialog143::kClearLabel, {344}, {"Clear Device Track Log Data"}},
};
const std::vector<StaticTexts> kTransformDialog = {
    {dialog144::kPrompt, {348}, {"Please select the directory:"}},
    {dialog144::kTrackLogLabel, {349}, {"TrackLog File Directory"}},
};
const std::vector<StaticTexts> kAboutBox = {
    {dialog100::kCopyright, {385}},
    {dialog100::kTitle, {386}},
    {dialog100::kProducts, {433}},
};

void ExpectTextsFit(const platform::Dialog& dialog, const std::vector<StaticTexts>& statics) {
    for (const StaticTexts& entry : statics) {
        auto* label = dialog.Item<QLabel>(entry.id);
        ASSERT_NE(label, nullptr) << entry.id;
        std::vector<std::string> texts = entry.literals;
        for (int id : entry.stringIds) texts.push_back(res::LoadString(id));
        const QString before = label->text();
        for (const std::string& text : texts) {
            if (text.empty()) continue;  // nothing shown, nothing cut off
            label->setText(QString::fromStdString(text));
            const QSize needed = label->sizeHint();
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << "static " << entry.id << " cuts off \"" << text << "\"";
            // A line that cannot wrap must not run past the control either.
            EXPECT_LE(label->minimumSizeHint().width(), label->width())
                << "static " << entry.id << " is too narrow for \"" << text << "\" (" << needed.width() << ")";
        }
        label->setText(before);
    }
}

// A read-only one-line field shows all of each text without scrolling.
void ExpectFieldTextsFit(const platform::Dialog& dialog, const std::vector<FieldTexts>& fields) {
    for (const FieldTexts& entry : fields) {
        auto* edit = dialog.Item<QLineEdit>(entry.id);
        ASSERT_NE(edit, nullptr) << entry.id;
        // The frame on each side, the field's own margin of 2 pixels and its text margins.
        const QMargins margins = edit->textMargins();
        const int room = edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 2 * 2 -
                         margins.left() - margins.right();
        for (const std::string& text : entry.texts) {
            EXPECT_LE(edit->fontMetrics().horizontalAdvance(QString::fromStdString(text)), room)
                << "field " << entry.id << " cuts off \"" << text << "\"";
        }
        EXPECT_GE(edit->height(), edit->fontMetrics().height()) << "field " << entry.id;
    }
}

class StatusTextFitTest : public ::testing::Test {
protected:
    testsupport::FakeWindow fake;
};

// Every shown control of a page shows all of what it holds now: labels,
// buttons, radio buttons, group titles, edits and the combo box's entries.
void ExpectControlsFit(const platform::Dialog& page) {
    for (QWidget* w : page.GetWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isHidden()) continue;
        const QFontMetrics metrics = w->fontMetrics();
        int needed = 0;
        std::string text;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text().toStdString();
            if (text.empty()) continue;  // nothing shown, nothing cut off
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << text;
            needed = label->minimumSizeHint().width();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text().toStdString();
            // A push button's size hint has a minimum width of its own; what
            // counts is the caption inside the frame.
            needed = qobject_cast<QPushButton*>(w)
                         ? metrics.horizontalAdvance(button->text()) +
                               2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth)
                         : button->sizeHint().width();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            text = group->title().toStdString();
            needed = metrics.horizontalAdvance(group->title()) + 16;
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            text = edit->text().toStdString();
            needed = metrics.horizontalAdvance(edit->text()) + 8;
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            text = "combo entries";
            needed = combo->sizeHint().width();
        }
        EXPECT_LE(needed, w->width()) << "\"" << text << "\" does not fit";
    }
}

TEST_F(StatusTextFitTest, EveryPageStaticShowsAllOfEachOfItsTexts) {
    ASSERT_TRUE(fake.Start());
    COrvikUtilityDlg* window = fake.window.get();
    ExpectTextsFit(*window->DevicePage(), kUpdatePage);
    ExpectTextsFit(*window->FirmwarePage(), kFirmwarePage);
    const CPage* waypoints = window->Page(COrvikUtilityDlg::kSlotWayPoint);
    ExpectTextsFit(*waypoints, kWaypointPage);
    ExpectTextsFit(*window->Page(COrvikUtilityDlg::kSlotTrackLogSetting), kTrackLogPage);
    ExpectTextsFit(*window->LoggerPage(), kLoggerPage);
    ExpectFieldTextsFit(*waypoints, kWaypointFields);
}

TEST_F(StatusTextFitTest, ThePhotoPageAndItsSettingsDialogShowAllOfTheirTexts) {
    ASSERT_TRUE(fake.Start());
    CPage* page = fake.window->Page(COrvikUtilityDlg::kSlotPhoto);
    ASSERT_NE(dynamic_cast<CPageTrackLogPhoto*>(page), nullptr);
    ExpectTextsFit(*page, kPhotoPage);
    ExpectControlsFit(*page);

    CPhotoCSDlg settings;
    ASSERT_TRUE(settings.Create(static_cast<QWidget*>(nullptr)));
    ExpectTextsFit(settings, kPhotoSettings);
    ExpectControlsFit(settings);
    const QRect inside = settings.GetWidget()->rect();
    for (const auto& c : settings.Template().controls) {
        QWidget* control = settings.GetDlgItem(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_TRUE(inside.contains(control->geometry())) << "control " << c.id << " runs past the dialog";
    }
}

TEST_F(StatusTextFitTest, TheFormatPageShowsAllOfItsTexts) {
    ASSERT_TRUE(fake.Start());
    CPage* page = fake.window->Page(COrvikUtilityDlg::kSlotFormat);
    ASSERT_NE(dynamic_cast<CPageTrackLogFormat*>(page), nullptr);
    ExpectTextsFit(*page, kFormatPage);
    ExpectControlsFit(*page);
    // Every zone label shows whole in the combo.
    auto* combo = page->Item<QComboBox>(dialog136::kZoneCombo);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 26);
    EXPECT_LE(combo->sizeHint().width(), combo->width());
    const QRect inside = page->GetWidget()->rect();
    for (const auto& c : page->Template().controls) {
        EXPECT_TRUE(inside.contains(page->GetDlgItem(c.id)->geometry())) << "control " << c.id << " runs past the page";
    }
}

TEST_F(StatusTextFitTest, EveryPageShowsAllOfItsControlsTexts) {
    ASSERT_TRUE(fake.Start());
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        ExpectControlsFit(*fake.window->Page(slot));
    }
}

TEST_F(StatusTextFitTest, TheUploadDialogsShowAllOfTheirTexts) {
    CStepByStepDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    ExpectTextsFit(dialog, kTransformDialog);
    ExpectControlsFit(dialog);
    CTrackLogFileStatusDlg status;
    ASSERT_TRUE(status.Create(static_cast<QWidget*>(nullptr)));
    ExpectControlsFit(status);
}

TEST_F(StatusTextFitTest, TheAboutBoxShowsAllOfItsTexts) {
    CAboutDlg about;
    ASSERT_TRUE(about.Create(static_cast<QWidget*>(nullptr)));
    ExpectTextsFit(about, kAboutBox);
}

TEST_F(StatusTextFitTest, PagesFitTheTabAndTheTabFitsTheWindow) {
    ASSERT_TRUE(fake.Start());
    COrvikUtilityDlg* window = fake.window.get();
    QWidget* tab = window->GetDlgItem(dialog102::kTab);
    ASSERT_NE(tab, nullptr);
    EXPECT_TRUE(window->GetWidget()->rect().contains(tab->geometry())) << "tab below the window's edge";
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        QWidget* page = window->Page(slot)->GetWidget();
        EXPECT_TRUE(tab->rect().contains(page->geometry())) << "page " << slot << " runs past the tab";
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden()) continue;
            EXPECT_TRUE(page->rect().contains(child->geometry()))
                << "page " << slot << ": control " << child->metaObject()->className() << " runs past the page";
        }
    }
}

}  // namespace

// Every control of every page and dialog shows all of what it holds: the text
// it shows now, and each text of the string table or of the program it can
// come to show (wrapped to a static's width, no taller and no line wider than
// the static; on one line inside a field's frame). Every control lies inside
// its dialog, every page inside the tab, the tab inside the window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <string>
#include <vector>

#include "EveryDialog.h"
#include "platform/Controls.h"
#include "shell/OrvikUtilityDlg.h"
#include "tracklog/BlockTransfer.h"
#include "tracklog/TrackLogSettings.h"
#include "tracklog/WaypointDownload.h"
#include "ui/Page.h"
#include "ui/StringTable.h"
#include "ui/templates/Template100.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template130.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template134.h"
#include "ui/templates/Template135.h"
#include "ui/templates/Template136.h"
#include "ui/templates/Template143.h"
#include "ui/templates/Template144.h"
#include "ui/templates/Template145.h"
#include "ui/templates/Template147.h"

namespace {

// What a static or a read-only field of a dialog can show: texts of the
// string table by id, and the program's own texts.
struct Texts {
    int dialog;
    int control;
    std::vector<int> stringIds;
    std::vector<std::string> literals = {};
};

// Built when the test runs, once the string table is there.
std::vector<Texts> WhatEachControlShows() {
    using namespace blocks;
    using namespace tracklogtext;
    using Result = TrackLogSettings::ReadResult;
    return {
        // The update page.
        {133, dialog133::kWarning, {401, 452, 453}},
        {133, dialog133::kPortLabel, {448}},
        {133, dialog133::kConnectStatus, {309, 310, 311, 315, 449, 450}},
        {133, dialog133::kDeviceTypeLabel, {318}},
        {133, dialog133::kHardwareLabel, {430}},
        {133, dialog133::kFirmwareLabel, {320}},
        {133, dialog133::kFileProductLabel, {418}},
        {133, dialog133::kFileVersionLabel, {419}},
        {133, dialog133::kFileHardwareLabel, {420}},
        {133, dialog133::kFileVerdict, {440, 116, 435, 436, 437, 438, 439}},
        {133, dialog133::kPercent, {}, {"0%", "100%"}},
        {133, dialog133::kUpdateState, {443, 405, 406, 407, 408, 409, 410, 411, 445, 446, 447}},
        // The firmware page.
        {147, dialog147::kWarning, {401}},
        {147, dialog147::kStatus, {404, 405, 406, 407, 408, 409, 410, 411, 413}},
        {147, dialog147::kPercent, {}, {"0%", "100%", "255%"}},
        // The waypoint page.
        {134, dialog134::kNameLabel, {}, {"Waypoints Name"}},
        {134, dialog134::kVersionLabel, {}, {"Waypoints Version"}},
        {134, dialog134::kDateLabel, {}, {"Waypoints Date"}},
        {134, dialog134::kDownloadLabel, {}, {"Download Waypoints to the Device"}},
        {134, dialog134::kPercent, {}, {"0%", "100%"}},
        {134, dialog134::kStatus, {},
         {"Download Status Message", waypoint::kStatusStarting, kStatusDownloading, kStatusFinishing,
          waypoint::kStatusDone, kTextNoResponse, kTextCannotOpenFile, kTextFileTooLarge, kTextNoPort, kTextRefused,
          kTextHeaderRefused, kTextAborted, kTextDeviceSilent, kTextTooManyRepeats, kTextBadAnswer, kTextPortFailed,
          kTextStopped}},
        {134, dialog134::kName, {}, {waypoint::kDefaultFileName, "waypoints_crlf.mpt"}},
        {134, dialog134::kVersion, {}, {waypoint::kDefaultFileVersion}},
        {134, dialog134::kDate, {}, {waypoint::kDefaultFileDate, "2008/03/07 02:15 PM", "2008/12/28 12:58 AM"}},
        // The photo and format pages.
        {135, dialog135::kSourceLabel, {354}},
        {135, dialog135::kPhotoFolderLabel, {364}},
        {135, dialog135::kStatusText, {359, 360, 361}},
        {136, dialog136::kSourceLabel, {354}},
        {136, dialog136::kZoneLabel, {355}},
        {136, dialog136::kOutputLabel, {356}},
        {136, dialog136::kStatusText, {359, 360, 361}},
        // The photo settings.
        {145, dialog145::kZoneLabel, {371}},
        {145, dialog145::kCalibrateLabel, {372}},
        {145, dialog145::kDaysLabel, {373}},
        {145, dialog145::kHoursLabel, {374}},
        {145, dialog145::kMinutesLabel, {375}},
        {145, dialog145::kSecondsLabel, {376}},
        {145, dialog145::kDiscardLabel, {},
         {res::LoadString(393) + "\n(1) " + res::LoadString(394) + "\n(2) " + res::LoadString(395) + "\n"}},
        // The track log page.
        {130, dialog130::kReadLabel, {}, {"Read Setting from Device"}},
        {130, dialog130::kReadStatus, {},
         {"Read Status Messasge", kWaiting, kUpdating, kReadDone,
          TrackLogSettings::ReadStatusText(Result::kNotConnected), TrackLogSettings::ReadStatusText(Result::kNoReply),
          TrackLogSettings::ReadStatusText(Result::kBadReply), "Apply Setting Failed."}},
        {130, dialog130::kSecondLabel, {}, {"Second"}},
        {130, dialog130::kDistanceUnit, {}, {"Meter", "Foot"}},
        {130, dialog130::kStatus, {},
         {"Upload/Clear Status Message", kWaiting, kUploading, kStatusFinishing, kUploadDone, kUploadFailed,
          kOutputFailed, kOutputWriteFailed, kClearDone, kClearFailed}},
        {130, dialog130::kUploadLabel, {}, {"Upload Device Track Log Data to PC"}},
        {130, dialog130::kUploadPercent, {}, {"0%", "100%"}},
        {130, dialog130::kClearLabel, {}, {"Clear Device Track Log Data"}},
        {130, dialog130::kClearPercent, {}, {"0%", "100%"}},
        // The logger settings page.
        {143, dialog143::kSettingStatus, {331, 335, 336, 337, 379},
         {"Connection to Device Failed", "Reading Record Mode Settings....", "Updating Record Mode Settings....",
          "Update Setting Successfully.", "Log Interval Setting....", "Log Distance Setting....",
          "Record Mode Setting....", "Apply Setting Successfully.", "Setting Failed! The device did not confirm it.",
          "Setting  Status Messasge"}},
        {143, dialog143::kProcessStatus, {338, 339, 340, 341, 342, 392},
         {"Clear Failed! No Device Connected! ", "Clearing Device Track Log Data....",
          "Clear Device Track Log Data Successfully.", "Clear Failed! The device did not confirm the erase.",
          "Cleared. The free record count could not be read.", "Upload/Clear Status Message",
          "Uploading Device Track Log Data....", "Upload Cancelled.", "Total mins: 59, secs: 59",
          "Upload Completed. Total mins: 59, secs: 59", "Upload Failed! The device stopped answering.",
          "Upload Failed! No Device Connected! ", "Upload Failed! The device was disconnected. ",
          "Upload Failed! The read request could not be sent. ", "Upload Failed! Mirel.trl could not be written. "}},
        {143, dialog143::kUploadPercent, {}, {"0%", "100%"}},
        {143, dialog143::kIntervalUnit, {328}, {"Sec."}},
        {143, dialog143::kDistanceUnit, {330, 396}, {"Meter", "Feet"}},
        {143, dialog143::kUploadLabel, {343}, {"Upload Device Track Log Data to PC"}},
        {143, dialog143::kClearLabel, {344}, {"Clear Device Track Log Data"}},
        // Transform to File and the About box.
        {144, dialog144::kPrompt, {348}, {"Please select the directory:"}},
        {144, dialog144::kTrackLogLabel, {349}, {"TrackLog File Directory"}},
        {100, dialog100::kCopyright, {385}},
        {100, dialog100::kTitle, {386}},
        {100, dialog100::kProducts, {433}},
    };
}

// The width a control needs to show all of what it holds now; for a static,
// also that its text wrapped to its width is no taller than it.
void ExpectShowsAll(QWidget* w, const std::string& where) {
    const QFontMetrics metrics = w->fontMetrics();
    int needed = 0;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->text();
        if (text.isEmpty()) return;  // nothing shown, nothing cut off
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << where << " cuts off \"" << text.toStdString() << "\"";
        // A line that cannot wrap must not run past the control either.
        needed = label->minimumSizeHint().width();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        // A push button's size hint has a minimum width of its own; what
        // counts is the caption inside the frame.
        text = button->text();
        needed = qobject_cast<QPushButton*>(w)
                     ? metrics.horizontalAdvance(text) + 2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth)
                     : button->sizeHint().width();
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        text = group->title();
        needed = metrics.horizontalAdvance(text) + 16;
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // The frame on each side, the field's own margin of 2 pixels and its
        // text margins; 8 pixels at least.
        text = edit->text();
        const QMargins margins = edit->textMargins();
        const int frame =
            2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 2 * 2 + margins.left() + margins.right();
        needed = metrics.horizontalAdvance(text) + std::max(8, frame);
        EXPECT_GE(edit->height(), metrics.height()) << where;
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        text = "its entries";
        needed = combo->sizeHint().width();
    }
    EXPECT_LE(needed, w->width()) << where << " is too narrow for \"" << text.toStdString() << "\"";
}

class StatusTextFitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(every.Start()); }
    testsupport::EveryDialog every;
};

TEST_F(StatusTextFitTest, EveryControlShowsAllOfWhatItHoldsAndOfEachTextItCanShow) {
    for (const platform::Dialog* dialog : every.All()) {
        for (const testsupport::Control& c : testsupport::ControlsOf(*dialog)) {
            if (c.widget && !c.widget->isHidden()) ExpectShowsAll(c.widget, testsupport::Describe(*dialog, c));
        }
    }
    for (const Texts& entry : WhatEachControlShows()) {
        const platform::Dialog* dialog = every.ById(entry.dialog);
        ASSERT_NE(dialog, nullptr) << entry.dialog;
        QWidget* w = dialog->GetDlgItem(entry.control);
        auto* label = qobject_cast<QLabel*>(w);
        auto* edit = qobject_cast<QLineEdit*>(w);
        const std::string where = testsupport::Describe(*dialog, {entry.control, w});
        ASSERT_TRUE(label || edit) << where << " is neither a static nor a field";
        std::vector<std::string> texts = entry.literals;
        for (int id : entry.stringIds) texts.push_back(res::LoadString(id));
        const auto show = [label, edit](const QString& text) { label ? label->setText(text) : edit->setText(text); };
        const QString before = label ? label->text() : edit->text();
        for (const std::string& text : texts) {
            show(QString::fromStdString(text));
            ExpectShowsAll(w, where);
        }
        show(before);
    }
    // The format page's zone list holds every zone.
    EXPECT_EQ(every.ById(136)->GetItemCount(dialog136::kZoneCombo), 26);
}

TEST_F(StatusTextFitTest, ControlsLieInsideTheirDialogPagesInsideTheTabAndTheTabInsideTheWindow) {
    for (const platform::Dialog* dialog : every.All()) {
        for (const testsupport::Control& c : testsupport::ControlsOf(*dialog)) {
            ASSERT_NE(c.widget, nullptr) << testsupport::Describe(*dialog, c) << " is missing";
            // A hidden control may come to be shown; a hidden picture (the
            // main window's banner) never is.
            if (c.widget->isHidden() && qobject_cast<platform::ImageStatic*>(c.widget)) continue;
            EXPECT_TRUE(dialog->GetWidget()->rect().contains(c.widget->geometry()))
                << testsupport::Describe(*dialog, c) << " runs past its dialog";
        }
    }
    COrvikUtilityDlg* window = every.fake.window.get();
    QWidget* tab = window->GetDlgItem(dialog102::kTab);
    ASSERT_NE(tab, nullptr);
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) {
        EXPECT_TRUE(tab->rect().contains(window->Page(slot)->GetWidget()->geometry()))
            << "page " << slot << " runs past the tab";
    }
    EXPECT_TRUE(window->GetWidget()->rect().contains(tab->geometry())) << "the tab runs past the window";
}

}  // namespace

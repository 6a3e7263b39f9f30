// Every static that shows a text of the string table shows all of it at the
// page font: for each visible static and each text it can show, the text
// wrapped to the control's width is no wider and no taller than the control.
#include <gtest/gtest.h>

#include <QLabel>
#include <string>
#include <vector>

#include "FakeWindow.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "shell/AboutDlg.h"
#include "shell/OrvikUtilityDlg.h"
#include "ui/StringTable.h"
#include "ui/templates/Template100.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
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
    {dialog147::kStatus, {404, 405, 406, 407, 408, 409, 410, 411}},
    {dialog147::kPercent, {}, {"0%", "100%"}},
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

class StatusTextFitTest : public ::testing::Test {
protected:
    testsupport::FakeWindow fake;
};

TEST_F(StatusTextFitTest, EveryPageStaticShowsAllOfEachOfItsTexts) {
    ASSERT_TRUE(fake.Start());
    COrvikUtilityDlg* window = fake.window.get();
    ExpectTextsFit(*window->DevicePage(), kUpdatePage);
    ExpectTextsFit(*window->FirmwarePage(), kFirmwarePage);
    ExpectTextsFit(*window->LoggerPage(), kLoggerPage);
}

TEST_F(StatusTextFitTest, TheTransformDialogShowsAllOfItsTexts) {
    CStepByStepDlg dialog;
    ASSERT_TRUE(dialog.Create(static_cast<QWidget*>(nullptr)));
    ExpectTextsFit(dialog, kTransformDialog);
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

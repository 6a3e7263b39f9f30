// The tab control's disable, skip and veto rules, and the widening list box.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>
#include <memory>

#include "UiTestUtil.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "ui/HListBox.h"
#include "shell/TabCtrlEx.h"

namespace {

class TabRulesTest : public ::testing::Test {
protected:
    void Make(int tabs) {
        control = std::make_unique<platform::TabControlWidget>();
        control->resize(400, 200);
        for (int i = 0; i < tabs; ++i) control->InsertItem(i, QString("Tab %1").arg(i));
        tab.Attach(control.get(), 1006, [this] { ++notifications; });
        ASSERT_TRUE(tab.Install(control.get()));
        control->show();
    }
    void Disable(std::initializer_list<int> indices) {
        for (int i : indices) ASSERT_TRUE(tab.EnableItem(i, false)) << i;
    }

    std::unique_ptr<platform::TabControlWidget> control;
    CTabCtrlEx tab;
    int notifications = 0;
};

TEST_F(TabRulesTest, TheOnlyTabCannotBeDisabled) {
    Make(1);
    EXPECT_FALSE(tab.EnableItem(0, false));
    EXPECT_TRUE(tab.IsItemEnabled(0));
    EXPECT_TRUE(tab.EnableItem(0, true));  // same state: nothing to do
    EXPECT_FALSE(tab.EnableItem(1, false));
    EXPECT_FALSE(tab.EnableItem(-1, true));
    EXPECT_FALSE(tab.IsItemEnabled(1));
    EXPECT_EQ(notifications, 0);
}

TEST_F(TabRulesTest, DisablingTheSelectedTabMovesOnAndNotifies) {
    Make(3);
    control->SetCurSelDirect(2);
    EXPECT_TRUE(tab.EnableItem(2, false));
    EXPECT_EQ(tab.GetCurSel(), 0);  // wraps to the first tab
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(tab.NotifyHeader().code, CTabCtrlEx::kTcnSelChange);
    EXPECT_EQ(tab.NotifyHeader().controlId, 1006);
    int position = -1;
    EXPECT_FALSE(tab.IsItemEnabled(2, &position));
    EXPECT_EQ(position, 0);
    EXPECT_TRUE(tab.EnableItem(1, false));  // not selected: no move
    EXPECT_EQ(tab.GetCurSel(), 0);
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(tab.DisabledItems(), (std::vector<std::uint32_t>{2, 1}));
    EXPECT_FALSE(tab.EnableItem(0, false));  // the last enabled tab stays
    EXPECT_TRUE(tab.EnableItem(2, true));
    EXPECT_EQ(tab.DisabledItems(), (std::vector<std::uint32_t>{1}));
}

TEST_F(TabRulesTest, ClicksOnDisabledTabsOrBesideThemAreVetoed) {
    Make(3);
    Disable({1});
    EXPECT_TRUE(tab.OnSelchanging(-1));
    EXPECT_TRUE(tab.OnSelchanging(1));
    EXPECT_FALSE(tab.OnSelchanging(2));
    // A real click on the disabled tab leaves the selection alone.
    const QRect disabled = control->GetItemRect(1);
    QTest::mouseClick(control->Bar(), Qt::LeftButton, {}, disabled.center() - control->Bar()->pos());
    EXPECT_EQ(tab.GetCurSel(), 0);
    const QRect enabled = control->GetItemRect(2);
    QTest::mouseClick(control->Bar(), Qt::LeftButton, {}, enabled.center() - control->Bar()->pos());
    EXPECT_EQ(tab.GetCurSel(), 2);
    EXPECT_EQ(notifications, 1);
}

TEST_F(TabRulesTest, ArrowKeysWrapAndSkipDisabledTabs) {
    Make(4);
    Disable({1});
    control->SetCurSelDirect(3);
    QTest::keyClick(control->Bar(), Qt::Key_Right);
    EXPECT_EQ(tab.GetCurSel(), 0);
    QTest::keyClick(control->Bar(), Qt::Key_Left);
    EXPECT_EQ(tab.GetCurSel(), 3);
    QTest::keyClick(control->Bar(), Qt::Key_Left);
    EXPECT_EQ(tab.GetCurSel(), 2);
    QTest::keyClick(control->Bar(), Qt::Key_Up);  // onto disabled 1: steered on to 0
    EXPECT_EQ(tab.GetCurSel(), 0);
    QTest::keyClick(control->Bar(), Qt::Key_Down);  // onto disabled 1: steered on to 2
    EXPECT_EQ(tab.GetCurSel(), 2);
    EXPECT_EQ(notifications, 5);
}

TEST_F(TabRulesTest, ProgrammaticSelectionOfDisabledTabs) {
    Make(5);
    control->SetCurSelDirect(1);
    Disable({4});
    EXPECT_EQ(control->SetCurSel(4), -1);  // |delta| 3 is none of 1, 4 and 1
    EXPECT_EQ(tab.GetCurSel(), 1);
    Disable({2, 3});
    EXPECT_EQ(control->SetCurSel(2), 0);  // forward from 2, wrapping to 0
    EXPECT_EQ(tab.GetCurSel(), 0);
    EXPECT_EQ(control->SetCurSel(1), 0);  // enabled: the control itself
    EXPECT_EQ(tab.GetCurSel(), 1);
    EXPECT_EQ(notifications, 0);  // selection requests do not notify
}

TEST_F(TabRulesTest, FindNextEnabledWrapsBothWays) {
    Make(5);
    Disable({1, 2});
    EXPECT_EQ(tab.FindNextEnabled(1, true), 3);
    EXPECT_EQ(tab.FindNextEnabled(2, false), 0);
    EXPECT_EQ(tab.FindNextEnabled(3, true), 3);  // the start is a candidate
    tab.EnableItem(3, false);
    tab.EnableItem(4, false);
    EXPECT_EQ(tab.FindNextEnabled(1, true), 0);
    EXPECT_EQ(tab.FindNextEnabled(4, false), 0);
}

TEST_F(TabRulesTest, ImagesNeedAnImageList) {
    Make(2);
    testsupport::TraceCapture traces;
    EXPECT_EQ(tab.SetItemImage(0, 130), -1);
    EXPECT_EQ(traces.Count("No image list defined\r\n"), 1);
    control->SetHasImageList(true);
    EXPECT_EQ(tab.SetItemImage(0, 130), 0);
    EXPECT_EQ(traces.Count("CTabCtrlEx::SetItemImage - No mask specified so using bitmap as mask\r\n"), 1);
    EXPECT_EQ(tab.SetItemImage(1, 99999), -1);
    EXPECT_EQ(traces.Count("Failed to load bitmap\r\n"), 1);
    EXPECT_EQ(tab.SetItemImage(5, 130), -1);
    EXPECT_EQ(control->GetItemImage(0), 0);
    // Disabled tabs with an image still draw.
    tab.EnableItem(1, false);
    EXPECT_EQ(tab.SetItemImage(1, QIcon(platform::ResourceBitmap(131))), 1);
    const QImage shot = control->grab().toImage();
    EXPECT_FALSE(shot.isNull());
    TabDrawItemRecord notATab;
    notATab.controlType = 4;
    tab.DrawItem(notATab);
    EXPECT_EQ(traces.Count("CTabCtrlEx::DrawItem() - Ignoring non-tab control\r\n"), 1);
}

class ListBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        widget = std::make_unique<platform::ListBoxWidget>();
        widget->resize(120, 80);
        list.Attach(widget.get());
    }
    std::unique_ptr<platform::ListBoxWidget> widget;
    CHListBox list;
};

TEST_F(ListBoxTest, ExtentGrowsOnlyWithWiderItems) {
    const std::string longText = "C:/tracks/walker_L-731_Start_2026-01-01_Finish_2026-01-02.trl";
    ASSERT_EQ(list.AddString(longText), 0);
    const int wide = list.GetHorizontalExtent();
    EXPECT_EQ(wide, list.TextExtent(longText));
    EXPECT_GT(wide, 120);
    ASSERT_EQ(list.AddString("short"), 1);
    EXPECT_EQ(list.GetHorizontalExtent(), wide);
    EXPECT_EQ(list.GetMaxWidth(), wide);
}

TEST_F(ListBoxTest, ResetThenANarrowItemSetsTheExtent) {
    list.AddString("a fairly long line of text for the list");
    list.ResetContent();
    EXPECT_EQ(list.GetMaxWidth(), 0);
    EXPECT_EQ(list.GetCount(), 0);
    list.AddString("ab");
    EXPECT_EQ(list.GetHorizontalExtent(), list.TextExtent("ab"));
}

TEST_F(ListBoxTest, DeletingTheWidestItemShrinksTheExtent) {
    list.AddString("medium width");
    list.AddString("the widest item of them all, by far");
    list.InsertString(0, "tiny");
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.DeleteString(2), 2);
    EXPECT_EQ(list.GetHorizontalExtent(), list.TextExtent("medium width"));
    EXPECT_EQ(list.DeleteString(7), CHListBox::kError);
    list.DeleteString(0);
    list.DeleteString(0);
    EXPECT_EQ(list.GetHorizontalExtent(), 0);
}

TEST_F(ListBoxTest, AFailedAddChangesNothing) {
    CHListBox unbound;
    EXPECT_EQ(unbound.AddString("x"), CHListBox::kError);
    EXPECT_EQ(unbound.GetMaxWidth(), 0);
    list.AddString("abc");
    const int extent = list.GetHorizontalExtent();
    EXPECT_EQ(list.InsertString(99, "a much longer line than abc"), CHListBox::kError);
    EXPECT_EQ(list.GetHorizontalExtent(), extent);
}

}  // namespace

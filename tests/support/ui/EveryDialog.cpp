#include "EveryDialog.h"

#include <QWidget>
#include <algorithm>

#include "shell/OrvikUtilityDlg.h"
#include "ui/Page.h"

namespace testsupport {

std::vector<Control> ControlsOf(const platform::Dialog& dialog) {
    std::vector<Control> controls;
    for (const platform::ControlTemplate& c : dialog.Template().controls) {
        if (c.id != platform::kNoId) controls.push_back({c.id, dialog.GetDlgItem(c.id)});
    }
    for (QWidget* w : dialog.GetWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const auto listed = [w](const Control& c) { return c.widget == w; };
        if (!w->isHidden() && std::none_of(controls.begin(), controls.end(), listed)) {
            controls.push_back({platform::kNoId, w});
        }
    }
    return controls;
}

std::string Describe(const platform::Dialog& dialog, const Control& control) {
    return "dialog " + std::to_string(dialog.Template().id) + " " +
           (control.id != platform::kNoId ? "control " + std::to_string(control.id)
                                          : std::string(control.widget->metaObject()->className()));
}

bool EveryDialog::Start() {
    if (!fake.Start()) return false;
    all_ = {fake.window.get()};
    for (int slot = 0; slot < COrvikUtilityDlg::kPageCount; ++slot) all_.push_back(fake.window->Page(slot));
    for (platform::Dialog* dialog :
         std::initializer_list<platform::Dialog*>{&about_, &transform_, &photoSettings_, &fileStatus_}) {
        if (!dialog->Create(static_cast<QWidget*>(nullptr))) return false;
        all_.push_back(dialog);
    }
    return true;
}

const platform::Dialog* EveryDialog::ById(int templateId) const {
    for (const platform::Dialog* dialog : all_) {
        if (dialog->Template().id == templateId) return dialog;
    }
    return nullptr;
}

}  // namespace testsupport

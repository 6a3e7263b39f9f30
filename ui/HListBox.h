// A list box that keeps its horizontal scroll extent equal to the width of
// its widest item, so that long lines can be scrolled sideways.
#pragma once

#include <string>
#include <vector>

namespace platform {
class ListBoxWidget;
}

class CHListBox {
public:
    CHListBox() = default;
    virtual ~CHListBox() = default;

    // Binds the object to a list-box control of a dialog.
    void Attach(platform::ListBoxWidget* control) { control_ = control; }
    platform::ListBoxWidget* Control() const { return control_; }

    int AddString(const std::string& text);
    // Adds the lines in order, as AddString each, in one insertion; returns
    // how many were added (the rest did not fit).
    int AddStrings(const std::vector<std::string>& lines);
    int InsertString(int index, const std::string& text);
    int DeleteString(int index);
    void ResetContent();
    void UpdateWidth(const std::string& text);

    int GetCount() const;
    int GetMaxWidth() const { return maxWidth; }
    int GetHorizontalExtent() const;
    // The extent of a text: its width in the list's font plus three borders.
    int TextExtent(const std::string& text) const;

    static constexpr int kError = -1;
    // The most items a list takes; an add beyond it fails.
    static constexpr int kMaxItems = 32767;

private:
    platform::ListBoxWidget* control_ = nullptr;
    int maxWidth = 0;
};

// Dialog templates as data: controls by id with rectangles in dialog units,
// their initial state and template texts. The dialog layer turns them into
// widgets; nothing here depends on the toolkit.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class ControlKind {
    Static,
    Button,
    DefaultButton,
    GroupBox,
    Edit,
    ComboBox,   // drop-down list
    ListBox,
    ProgressBar,
    Tab,
    BitmapStatic,
    IconStatic,
    CheckBox,
    RadioButton,
    Spin,  // up-down arrows that set the number of the edit before them
};

// Control styles (bit flags).
enum ControlStyle : unsigned {
    kVisible = 1u << 0,
    kDisabled = 1u << 1,
    kReadOnly = 1u << 2,
    kGroup = 1u << 3,
    kMultiline = 1u << 4,
    kRaggedRight = 1u << 5,
    kCenter = 1u << 6,
    kRight = 1u << 7,
    kBorder = 1u << 8,
    kPassword = 1u << 9,
    kNumber = 1u << 10,
    kSort = 1u << 11,
    kHScroll = 1u << 12,
    kVScroll = 1u << 13,
};

// Dialog styles (bit flags).
enum DialogStyle : unsigned {
    kChild = 1u << 0,
    kPopup = 1u << 1,
    kSysMenu = 1u << 2,
    kMinimizeBox = 1u << 3,
    kMaximizeBox = 1u << 4,
    kModalFrame = 1u << 5,
    kDialogVisible = 1u << 6,
};

struct DluRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// The id of controls that have none.
constexpr int kNoId = -1;

struct ControlTemplate {
    int id = kNoId;
    ControlKind kind = ControlKind::Static;
    DluRect rect;
    unsigned style = kVisible;
    std::string text;  // UTF-8
    int imageId = 0;   // bitmap or icon resource of image statics
};

struct DialogTemplate {
    int id = 0;
    std::string caption;  // UTF-8
    DluRect rect;         // x, y and size of the whole dialog
    unsigned style = kChild;
    std::vector<ControlTemplate> controls;
};

// Dialog units to pixels. The dialog font's average character is 6 pixels
// wide and 13 pixels high: a horizontal unit is a quarter of the width, a
// vertical unit an eighth of the height, rounded to the nearest pixel.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int DluToPixelsX(int dlu) { return (dlu * kBaseUnitX + (dlu >= 0 ? 2 : -2)) / 4; }
constexpr int DluToPixelsY(int dlu) { return (dlu * kBaseUnitY + (dlu >= 0 ? 4 : -4)) / 8; }

}  // namespace platform

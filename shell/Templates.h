// The dialog templates of the program, by resource id.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {

// The update page's connection picture has no id in its template; the
// program reaches it by this one.
constexpr int kConnectionPictureId = 0x7F01;

// Main window.
const platform::DialogTemplate& Template102();
// About box.
const platform::DialogTemplate& Template100();
// Pages, by slot: update 133, GPS status 129, track-log setting 130, format
// conversion 136, photo link 135, waypoints 134, logger settings 143,
// firmware download 147.
const platform::DialogTemplate& Template133();
const platform::DialogTemplate& Template129();
const platform::DialogTemplate& Template130();
const platform::DialogTemplate& Template136();
const platform::DialogTemplate& Template135();
const platform::DialogTemplate& Template134();
const platform::DialogTemplate& Template143();
const platform::DialogTemplate& Template147();

}  // namespace res

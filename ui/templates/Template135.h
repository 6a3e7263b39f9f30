// Dialog template 135: the photo link page (a track-log file, a folder of
// JPEG photos, the photo combine settings and Convert). The captions in the
// table are the template's own; the page replaces six of them by string-table
// texts.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template135();
}  // namespace res

namespace dialog135 {
constexpr int kGroupFrame = 1079;  // not visible
constexpr int kSourceLabel = 1076;
constexpr int kSourceEdit = 1078;
constexpr int kBrowseSource = 1077;
constexpr int kPhotoFolderLabel = 1057;
constexpr int kPhotoFolderEdit = 1050;
constexpr int kBrowsePhotoFolder = 1051;
constexpr int kPhotoCombineSetting = 1095;
constexpr int kConvert = 1058;
constexpr int kStatusText = 1059;
constexpr int kSummaryText = 1125;
constexpr int kPhotoList = 1124;
}  // namespace dialog135

// Dialog template 144: "Transform to File", asked before a log upload: the
// folder for the track-log files, the photo folder to combine photos with
// the track, and (hidden) text and KML output files.
#pragma once

#include "platform/DialogTemplate.h"

namespace res {
const platform::DialogTemplate& Template144();
}  // namespace res

namespace dialog144 {
constexpr int kPrompt = 1177;
constexpr int kTrackLogLabel = 1178;
constexpr int kTrackLogFolder = 1115;
constexpr int kBrowseTrackLog = 1098;
constexpr int kCombineJpg = 1101;
constexpr int kPhotoFolder = 1104;
constexpr int kBrowsePhoto = 1095;
constexpr int kWriteTotal = 1105;
// Hidden controls: the text and KML outputs.
constexpr int kTextFile = 1099;
constexpr int kTextPath = 1103;
constexpr int kBrowseText = 1096;
constexpr int kKmlFile = 1100;
constexpr int kKmlPath = 1102;
constexpr int kBrowseKml = 1097;
constexpr int kOk = 1;
constexpr int kCancel = 2;
}  // namespace dialog144

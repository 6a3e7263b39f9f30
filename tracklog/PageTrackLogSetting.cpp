#include "tracklog/PageTrackLogSetting.h"

#include "ui/templates/Template130.h"

CPageTrackLogSetting::CPageTrackLogSetting() : CPage(res::Template130()) {}

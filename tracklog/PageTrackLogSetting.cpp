#include "tracklog/PageTrackLogSetting.h"

#include "shell/Templates.h"

CPageTrackLogSetting::CPageTrackLogSetting() : CPage(res::Template130()) {}

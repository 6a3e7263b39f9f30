#include "tracklog/PageWayPointSetting.h"

#include "shell/Templates.h"

CPageWayPointSetting::CPageWayPointSetting() : CPage(res::Template134()) {}

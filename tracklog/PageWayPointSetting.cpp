#include "tracklog/PageWayPointSetting.h"

#include "ui/templates/Template134.h"

CPageWayPointSetting::CPageWayPointSetting() : CPage(res::Template134()) {}

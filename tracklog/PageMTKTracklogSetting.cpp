#include "tracklog/PageMTKTracklogSetting.h"

#include "ui/templates/Template143.h"

CPageMTKTracklogSetting::CPageMTKTracklogSetting() : CPage(res::Template143()) {}

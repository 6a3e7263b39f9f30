#pragma once

#include "ui/Page.h"

class CPageWayPointSetting : public CPage {
public:
    CPageWayPointSetting();
};

#pragma once

#include "shell/Page.h"

class CPageWayPointSetting : public CPage {
public:
    CPageWayPointSetting();
};

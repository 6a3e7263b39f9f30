#pragma once

#include "ui/Page.h"

class CPageTrackLogSetting : public CPage {
public:
    CPageTrackLogSetting();
};

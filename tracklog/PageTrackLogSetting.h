#pragma once

#include "shell/Page.h"

class CPageTrackLogSetting : public CPage {
public:
    CPageTrackLogSetting();
};

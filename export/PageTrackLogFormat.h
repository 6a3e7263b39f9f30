#pragma once

#include "shell/Page.h"

class CPageTrackLogFormat : public CPage {
public:
    CPageTrackLogFormat();
};

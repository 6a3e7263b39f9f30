#pragma once

#include "ui/Page.h"

class CPageTrackLogFormat : public CPage {
public:
    CPageTrackLogFormat();
};

#pragma once

#include "shell/Page.h"

class CPageTrackLogPhoto : public CPage {
public:
    CPageTrackLogPhoto();
};

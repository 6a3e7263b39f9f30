#pragma once

#include "ui/Page.h"

class CPageTrackLogPhoto : public CPage {
public:
    CPageTrackLogPhoto();
};

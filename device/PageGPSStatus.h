#pragma once

#include "shell/Page.h"

class CPageGPSStatus : public CPage {
public:
    CPageGPSStatus();
};

#pragma once

#include "ui/Page.h"

class CPageGPSStatus : public CPage {
public:
    CPageGPSStatus();
};

// The update page: step 1 connects to the device and identifies it, step 2
// checks an update file, step 3 runs the update. It owns the serial port.
#pragma once

#include "device/SerialLink.h"
#include "shell/Page.h"

class CPageDeviceSetting : public CPage, public SerialLink {
public:
    CPageDeviceSetting();
    ~CPageDeviceSetting() override;

    bool OnInitDialog() override;
};

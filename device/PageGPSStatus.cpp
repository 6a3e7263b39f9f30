#include "device/PageGPSStatus.h"

#include "shell/Templates.h"

CPageGPSStatus::CPageGPSStatus() : CPage(res::Template129()) {}

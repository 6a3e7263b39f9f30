#include "device/PageGPSStatus.h"

#include "ui/templates/Template129.h"

CPageGPSStatus::CPageGPSStatus() : CPage(res::Template129()) {}

#include "export/PageTrackLogFormat.h"

#include "ui/templates/Template136.h"

CPageTrackLogFormat::CPageTrackLogFormat() : CPage(res::Template136()) {}

#include "export/PageTrackLogFormat.h"

#include "shell/Templates.h"

CPageTrackLogFormat::CPageTrackLogFormat() : CPage(res::Template136()) {}

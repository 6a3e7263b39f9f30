#include "export/PageTrackLogPhoto.h"

#include "shell/Templates.h"

CPageTrackLogPhoto::CPageTrackLogPhoto() : CPage(res::Template135()) {}

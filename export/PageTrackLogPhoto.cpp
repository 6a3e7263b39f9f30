#include "export/PageTrackLogPhoto.h"

#include "ui/templates/Template135.h"

CPageTrackLogPhoto::CPageTrackLogPhoto() : CPage(res::Template135()) {}

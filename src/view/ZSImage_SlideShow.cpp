#include "view/ZSImage_SlideShow.h"

#include "view/ZSImage.h"

TzsiSlideShow::TzsiSlideShow(TZSImage* AOwner) : QObject(AOwner), FOwner(AOwner) {}

void TzsiSlideShow::Clear() {}

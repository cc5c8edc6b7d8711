#pragma once
// The program's artwork is drawn as SVG in the resources; every window renders
// it through here so that scaling and transparency are handled one way.

#include <QImage>
#include <QSize>

// Renders the SVG resource at `size` on a transparent background; an unknown or
// broken resource gives a fully transparent picture.
QImage RenderArtwork(const char* resource, QSize size);

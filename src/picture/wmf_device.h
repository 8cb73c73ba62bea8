#pragma once
// Our drawing device for libwmf's metafile player: every record the player understands arrives here as a
// call and is drawn by a QPainter into the tile, with antialiasing off for lines and shapes.

#include <QImage>

namespace vox {

struct WmfLayout;

class CWmfDevice {
public:
    // Plays the metafile into target (already filled white), mapping its frame onto the whole image.
    // Returns false when the player could not start; a metafile that fails part-way keeps what was drawn.
    static bool Play(const WmfLayout& layout, QImage* target);
};

}  // namespace vox

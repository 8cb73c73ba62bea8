#pragma once
// The structure of a 16-bit Windows metafile, read before any record is played: its size in HIMETRIC, and
// the records made safe to hand to the player. A record that runs past the end of the file, claims fewer
// than three words, or holds fewer points, characters or parameters than it says, ends the picture there:
// what came before it is drawn, nothing after it is read.

#include <QByteArray>

namespace vox {

struct WmfLayout {
    bool placeable = false;
    int hmWidth = 0;   // HIMETRIC, always positive
    int hmHeight = 0;
    bool damaged = false;  // records were cut at the first fault
    // The metafile as the player gets it: the standard header, a prologue that maps the picture's frame
    // (the placeable bounding box, or the file's own window) onto the whole bitmap, the sound records, and
    // an end record.
    QByteArray playable;
};

// True when the bytes begin like a metafile (placeable key, or a standard header).
bool LooksLikeWmf(const QByteArray& bytes);

// Fills layout and returns true when the bytes are a metafile that can be drawn. A file without the
// placeable header must give its size through its window extent (see the .cpp); otherwise false.
bool ReadWmfLayout(const QByteArray& bytes, WmfLayout* layout);

}  // namespace vox

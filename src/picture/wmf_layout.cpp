#include "picture/wmf_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "picture/picture_image.h"

namespace vox {
namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr int kPlaceableBytes = 22;
constexpr int kHeaderBytes = 18;

enum : std::uint16_t {
    kEof = 0x0000,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSaveDc = 0x001E,
    kSetStretchBltMode = 0x0107,
    kSetTextCharExtra = 0x0108,
    kRestoreDc = 0x0127,
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetTextJustification = 0x020A,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kSelectPalette = 0x0234,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kFloodFill = 0x0419,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kExtFloodFill = 0x0548,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kBitBlt = 0x0922,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kStretchBlt = 0x0B23,
    kDibStretchBlt = 0x0B41,
    kStretchDib = 0x0F43,
};

enum { kMmText = 1, kMmLoMetric, kMmHiMetric, kMmLoEnglish, kMmHiEnglish, kMmTwips, kMmIsotropic, kMmAnisotropic };

std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::int16_t S16(const unsigned char* p) { return std::int16_t(U16(p)); }
std::uint32_t U32(const unsigned char* p) { return U16(p) | (std::uint32_t(U16(p + 2)) << 16); }

void PutU16(QByteArray& out, std::uint16_t v) {
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}
void PutU32(QByteArray& out, std::uint32_t v) {
    PutU16(out, std::uint16_t(v & 0xFFFF));
    PutU16(out, std::uint16_t(v >> 16));
}
void PutRecord(QByteArray& out, std::uint16_t function, std::initializer_list<std::int16_t> params) {
    PutU32(out, 3 + std::uint32_t(params.size()));
    PutU16(out, function);
    for (std::int16_t p : params) PutU16(out, std::uint16_t(p));
}

// The fewest parameter words a record needs before its variable part; records not listed take what they
// find (the player checks those itself).
int FixedParams(std::uint16_t function) {
    switch (function) {
    case kSetBkMode: case kSetMapMode: case kSetRop2: case kSetPolyFillMode: case kSetStretchBltMode:
    case kSetTextCharExtra: case kRestoreDc: case kInvertRegion: case kPaintRegion: case kSelectClipRegion:
    case kSelectObject: case kSetTextAlign: case kDeleteObject: case kSelectPalette: case kPolygon:
    case kPolyline: case kPolyPolygon: case kTextOut:
        return 1;
    case kSetBkColor: case kSetTextColor: case kSetTextJustification: case kSetWindowOrg: case kSetWindowExt:
    case kSetViewportOrg: case kSetViewportExt: case kOffsetWindowOrg: case kOffsetViewportOrg: case kLineTo:
    case kMoveTo: case kOffsetClipRgn: case kFillRegion: case kDibCreatePatternBrush:
        return 2;
    case kScaleWindowExt: case kScaleViewportExt: case kExcludeClipRect: case kIntersectClipRect:
    case kEllipse: case kFloodFill: case kRectangle: case kSetPixel: case kFrameRegion: case kExtTextOut:
    case kCreateBrushIndirect:
        return 4;
    case kCreatePenIndirect: case kExtFloodFill:
        return 5;
    case kRoundRect: case kPatBlt:
        return 6;
    case kArc: case kPie: case kChord: case kDibBitBlt:
        return 8;
    case kCreateFontIndirect:
        return 9;
    case kBitBlt: case kDibStretchBlt:
        return 10;
    case kStretchDib: case kStretchBlt:
        return 11;
    default:
        return 0;
    }
}

// Checks the variable part of a record whose parameters are p[0..n).
bool ParamsConsistent(std::uint16_t function, const unsigned char* p, std::uint32_t n, unsigned objects) {
    if (n < std::uint32_t(FixedParams(function))) return false;
    auto word = [p](std::uint32_t i) { return U16(p + 2 * i); };
    switch (function) {
    case kPolygon:
    case kPolyline:
        return std::uint64_t(1) + 2ull * word(0) <= n;
    case kPolyPolygon: {
        const std::uint32_t polygons = word(0);
        if (std::uint64_t(1) + polygons > n) return false;
        std::uint64_t points = 0;
        for (std::uint32_t i = 0; i < polygons; ++i) points += word(1 + i);
        return 1 + polygons + 2 * points <= n;
    }
    case kSelectObject:
    case kDeleteObject:
    case kSelectPalette:
    case kSelectClipRegion:
    case kInvertRegion:
    case kPaintRegion:
        return word(0) < objects;
    case kFillRegion:
        return word(0) < objects && word(1) < objects;
    case kFrameRegion:
        return word(0) < objects && word(1) < objects;
    case kTextOut:
        return std::uint64_t(1) + (word(0) + 1u) / 2 + 2 <= n;
    case kExtTextOut: {
        const std::uint32_t length = word(2);
        const std::uint32_t rect = word(3) != 0 ? 4 : 0;
        return std::uint64_t(4) + rect + (length + 1) / 2 <= n;
    }
    default:
        return true;
    }
}

// HIMETRIC per logical unit of a fixed mapping mode, as a fraction.
bool UnitsToHimetric(int mapMode, int units, int* himetric) {
    switch (mapMode) {
    case kMmLoMetric: *himetric = MulDiv(units, 10, 1); break;
    case kMmHiMetric: *himetric = units; break;
    case kMmLoEnglish: *himetric = MulDiv(units, 254, 100); break;
    case kMmHiEnglish: *himetric = MulDiv(units, 254, 1000); break;
    case kMmTwips: *himetric = MulDiv(units, 2540, 1440); break;
    default: *himetric = MulDiv(units, 2540, 96); break;  // device pixels of a 96-dpi screen
    }
    *himetric = std::abs(*himetric);
    return *himetric > 0;
}

// The object table twice over: the writer's numbering, which the records use, and the player's. The player
// keeps pointing at an object deleted while it is selected, and reuses its slot for the next object (whose
// bytes it then reads as a font name or a bitmap). Such an object lives on in the player's table under a
// number of its own until something else of its kind is selected, so nothing selected is ever reused.
class ObjectTables {
public:
    explicit ObjectTables(unsigned objects)
        : m_file(objects, -1), m_player(std::min<unsigned>(objects + 8, 0xFFFF), 0) {}
    unsigned PlayerSize() const { return unsigned(m_player.size()); }

    // A new object of the given kind; false when the writer's table is full.
    bool Create(int kind) {
        const auto file = std::find(m_file.begin(), m_file.end(), -1);
        const auto player = std::find(m_player.begin(), m_player.end(), 0);
        if (file == m_file.end() || player == m_player.end()) return false;
        *player = kind;
        *file = int(player - m_player.begin());
        return true;
    }
    // The player's number for the writer's object index, or -1 for an index that holds nothing.
    int Map(unsigned index) const { return index < m_file.size() ? m_file[index] : -1; }

    // Rewrites a SelectObject; returns the player's object to delete after it (a released orphan) or -1.
    int Select(int player) {
        const int kind = m_player[size_t(player)];
        int released = -1;
        for (Selected& s : m_selected)
            if (s.kind == kind) {
                if (s.orphan && s.player != player) {
                    released = s.player;
                    m_player[size_t(s.player)] = 0;
                }
                s = {kind, player, false};
                return released;
            }
        m_selected.push_back({kind, player, false});
        return released;
    }
    // Returns true when the player may delete the object now; otherwise it becomes an orphan.
    bool Delete(unsigned index) {
        const int player = m_file[index];
        m_file[index] = -1;
        for (Selected& s : m_selected)
            if (s.player == player && s.kind == m_player[size_t(player)]) {
                s.orphan = true;
                return false;
            }
        m_player[size_t(player)] = 0;
        return true;
    }

private:
    struct Selected {
        int kind;
        int player;
        bool orphan;
    };
    std::vector<int> m_file;    // writer's index -> player's index
    std::vector<int> m_player;  // player's index -> kind of object (0: free)
    std::vector<Selected> m_selected;
};

int CreatedKind(std::uint16_t function) {
    switch (function) {
    case kCreatePenIndirect: return 1;
    case kCreateBrushIndirect: case kDibCreatePatternBrush: case 0x01F9: return 2;
    case 0x00F7: return 5;  // CREATEPALETTE
    case kCreateFontIndirect: return 6;
    case kCreateRegion: return 8;
    default: return 0;
    }
}

}  // namespace

bool LooksLikeWmf(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (bytes.size() >= 4 && U32(p) == kPlaceableKey) return true;
    return bytes.size() >= kHeaderBytes && (U16(p) == 1 || U16(p) == 2) && U16(p + 2) == 9 &&
           (U16(p + 4) == 0x0100 || U16(p + 4) == 0x0300);
}

bool ReadWmfLayout(const QByteArray& bytes, WmfLayout* layout) {
    *layout = WmfLayout();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype pos = 0;

    std::int16_t left = 0, top = 0, right = 0, bottom = 0;
    if (size >= 4 && U32(data) == kPlaceableKey) {
        if (size < kPlaceableBytes) return false;
        left = S16(data + 6);
        top = S16(data + 8);
        right = S16(data + 10);
        bottom = S16(data + 12);
        const int inch = U16(data + 14);
        if (inch == 0) return false;
        layout->placeable = true;
        layout->hmWidth = std::abs(MulDiv(int(right) - left, 2540, inch));
        layout->hmHeight = std::abs(MulDiv(int(bottom) - top, 2540, inch));
        if (layout->hmWidth <= 0 || layout->hmHeight <= 0) return false;
        pos = kPlaceableBytes;
    }
    if (size - pos < kHeaderBytes) return false;
    const unsigned char* header = data + pos;
    if ((U16(header) != 1 && U16(header) != 2) || U16(header + 2) != 9) return false;
    const unsigned objects = U16(header + 10);
    pos += kHeaderBytes;

    // The player starts every saved context's successor with default colours and modes instead of the
    // saved ones; we follow them through SaveDC/RestoreDC and set them again after each SaveDC.
    struct DcState {
        std::int16_t textAlign = 0, bkMode = 2, polyFill = 1, rop2 = 13, charExtra = 0;
        std::int16_t textColor[2] = {0, 0};
        std::int16_t bkColor[2] = {-1, 0xFF};
    };
    DcState state;
    std::vector<DcState> saved;
    ObjectTables tables(objects);

    // Walk the records once: keep every sound one, stop at the end record or at the first fault.
    QByteArray records;
    records.reserve(size - pos + 6);
    std::uint32_t largest = 3;
    int mapMode = kMmText;
    bool haveWindowOrg = false, haveWindowExt = false, haveViewportExt = false;
    std::int16_t windowX = 0, windowY = 0, windowW = 0, windowH = 0, viewportW = 0, viewportH = 0;
    for (;;) {
        if (size - pos < 6) {
            layout->damaged = size != pos;  // a file may simply end without its end record
            break;
        }
        const std::uint32_t words = U32(data + pos);
        const std::uint16_t function = U16(data + pos + 4);
        if (words < 3 || words > std::uint64_t(size - pos) / 2) {
            layout->damaged = true;
            break;
        }
        if (function == kEof) break;
        const unsigned char* params = data + pos + 6;
        if (!ParamsConsistent(function, params, words - 3, objects)) {
            layout->damaged = true;
            break;
        }
        switch (function) {
        case kSetMapMode:
            if (!haveWindowExt) mapMode = U16(params);
            break;
        case kSetWindowOrg:
            if (!haveWindowOrg) {
                windowY = S16(params);
                windowX = S16(params + 2);
                haveWindowOrg = true;
            }
            break;
        case kSetWindowExt:
            if (!haveWindowExt) {
                windowH = S16(params);
                windowW = S16(params + 2);
                haveWindowExt = windowW != 0 && windowH != 0;
            }
            break;
        case kSetViewportExt:
            if (!haveViewportExt) {
                viewportH = S16(params);
                viewportW = S16(params + 2);
                haveViewportExt = viewportW != 0 && viewportH != 0;
            }
            break;
        default:
            break;
        }
        // Object numbers: the writer's become the player's (see ObjectTables).
        const qsizetype at = records.size();
        records.append(reinterpret_cast<const char*>(data + pos), qsizetype(words) * 2);
        if (words > largest) largest = words;
        auto setParam = [&records, at](int i, int value) {
            records[at + 6 + 2 * i] = char(value & 0xFF);
            records[at + 7 + 2 * i] = char((value >> 8) & 0xFF);
        };
        bool objectFault = false;
        int release = -1;
        if (const int kind = CreatedKind(function)) {
            objectFault = !tables.Create(kind);
        } else if (function == kDeleteObject) {
            const int player = tables.Map(U16(params));
            if (player < 0) objectFault = true;
            else if (tables.Delete(U16(params))) setParam(0, player);
            else records.chop(qsizetype(words) * 2);  // kept alive until deselected
        } else if (function == kSelectObject || function == kSelectPalette || function == kSelectClipRegion ||
                   function == kInvertRegion || function == kPaintRegion || function == kFillRegion ||
                   function == kFrameRegion) {
            const int count = function == kFillRegion || function == kFrameRegion ? 2 : 1;
            for (int i = 0; i < count && !objectFault; ++i) {
                const int player = tables.Map(U16(params + 2 * i));
                if (player < 0) objectFault = true;
                else setParam(i, player);
            }
            if (!objectFault && function == kSelectObject) release = tables.Select(tables.Map(U16(params)));
        }
        if (objectFault) {
            records.truncate(at);
            layout->damaged = true;
            break;
        }
        if (release >= 0) PutRecord(records, kDeleteObject, {std::int16_t(release)});
        switch (function) {
        case kSetTextAlign: state.textAlign = S16(params); break;
        case kSetBkMode: state.bkMode = S16(params); break;
        case kSetPolyFillMode: state.polyFill = S16(params); break;
        case kSetRop2: state.rop2 = S16(params); break;
        case kSetTextCharExtra: state.charExtra = S16(params); break;
        case kSetTextColor: state.textColor[0] = S16(params); state.textColor[1] = S16(params + 2); break;
        case kSetBkColor: state.bkColor[0] = S16(params); state.bkColor[1] = S16(params + 2); break;
        case kSaveDc:
            if (saved.size() < 1024) saved.push_back(state);
            PutRecord(records, kSetTextAlign, {state.textAlign});
            PutRecord(records, kSetBkMode, {state.bkMode});
            PutRecord(records, kSetPolyFillMode, {state.polyFill});
            PutRecord(records, kSetRop2, {state.rop2});
            PutRecord(records, kSetTextCharExtra, {state.charExtra});
            PutRecord(records, kSetTextColor, {state.textColor[0], state.textColor[1]});
            PutRecord(records, kSetBkColor, {state.bkColor[0], state.bkColor[1]});
            break;
        case kRestoreDc: {
            const int n = S16(params);
            const long target = n < 0 ? long(saved.size()) + n : long(n) - 1;
            if (target >= 0 && target < long(saved.size())) {
                state = saved[size_t(target)];
                saved.resize(size_t(target));
            }
            break;
        }
        default:
            break;
        }
        pos += qsizetype(words) * 2;
    }

    if (!layout->placeable) {
        // No placeable header: the size comes from the file's own frame. With an isotropic or anisotropic
        // mapping and a viewport extent, that extent is the picture's size in pixels of a 96-dpi screen;
        // otherwise the window extent in the units of the mapping mode (pixels for MM_TEXT). A file that
        // sets neither has no size at all and is refused.
        if (!haveWindowExt) return false;
        const bool scaled = mapMode == kMmIsotropic || mapMode == kMmAnisotropic;
        if (scaled && haveViewportExt) {
            if (!UnitsToHimetric(kMmText, viewportW, &layout->hmWidth) ||
                !UnitsToHimetric(kMmText, viewportH, &layout->hmHeight))
                return false;
        } else if (!UnitsToHimetric(mapMode, windowW, &layout->hmWidth) ||
                   !UnitsToHimetric(mapMode, windowH, &layout->hmHeight)) {
            return false;
        }
        left = windowX;
        top = windowY;
        right = std::int16_t(windowX + windowW);
        bottom = std::int16_t(windowY + windowH);
    }

    // The frame goes onto the whole bitmap, as the system's picture renderer does it: window = frame,
    // anisotropic, before the file's own records (which may set the window again).
    QByteArray prologue;
    PutRecord(prologue, kSetWindowOrg, {top, left});
    PutRecord(prologue, kSetWindowExt, {std::int16_t(bottom - top), std::int16_t(right - left)});
    PutRecord(prologue, kSetMapMode, {kMmAnisotropic});
    if (layout->placeable && (right - left == 0 || bottom - top == 0)) return false;

    QByteArray& out = layout->playable;
    const std::uint32_t totalWords = std::uint32_t((kHeaderBytes + prologue.size() + records.size() + 6) / 2);
    out.reserve(kHeaderBytes + prologue.size() + records.size() + 6);
    PutU16(out, 1);
    PutU16(out, 9);
    PutU16(out, 0x0300);
    PutU32(out, totalWords);
    PutU16(out, std::uint16_t(tables.PlayerSize()));
    PutU32(out, largest);
    PutU16(out, 0);
    out.append(prologue);
    out.append(records);
    PutRecord(out, kEof, {});
    return true;
}

}  // namespace vox

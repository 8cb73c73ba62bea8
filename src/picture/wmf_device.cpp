#include "picture/wmf_device.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <string>

#include "picture/picture_image.h"
#include "picture/wmf_layout.h"

// libwmf's headers define short macros (U16, OPAQUE, TA_TOP ...): they come after every Qt header.
#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/ipa.h>

namespace vox {
namespace {

constexpr int kMmIsotropic = 7;
constexpr int kMmAnisotropic = 8;

// The bitmaps inside a metafile are bounded like the tile itself.
constexpr qint64 kMaxDibPixels = qint64(16) * 1024 * 1024;

class Device {
public:
    Device(QImage* image, const WmfLayout& layout)
        : m_painter(image), m_width(image->width()), m_height(image->height()), m_layout(layout) {
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, true);
        m_painter.setBrushOrigin(0, 0);
    }

    // --- coordinates: the player gives device coordinates relative to the window origin, in units of
    // its own viewport (anisotropic) or of points (fixed mapping modes); the frame fills the tile.
    void UseDc(const wmfDC* dc) {
        m_kx = Scale(dc->pixel_width, dc->Window.width, dc->map_mode, m_width, m_layout.hmWidth);
        m_ky = Scale(dc->pixel_height, dc->Window.height, dc->map_mode, m_height, m_layout.hmHeight);
    }
    QPointF Map(const wmfD_Coord& d) const { return QPointF(d.x * m_kx, d.y * m_ky); }
    // A rectangle in whole pixels, as the system draws them: left/top inclusive, right/bottom exclusive.
    QRect MapRect(const wmfD_Coord& a, const wmfD_Coord& b) const {
        const QPointF p = Map(a), q = Map(b);
        const int x1 = int(std::lround(std::min(p.x(), q.x()))), x2 = int(std::lround(std::max(p.x(), q.x())));
        const int y1 = int(std::lround(std::min(p.y(), q.y()))), y2 = int(std::lround(std::max(p.y(), q.y())));
        return QRect(x1, y1, x2 - x1, y2 - y1);
    }

    // --- drawing state from the player's device context.
    QColor Color(const wmfRGB& c) const { return QColor(c.r, c.g, c.b); }

    void Prepare(wmfDC* dc, bool pen, bool brush) {
        UseDc(dc);
        m_painter.setCompositionMode(Composition(dc->ROPmode));
        m_painter.setPen(pen ? MakePen(dc) : QPen(Qt::NoPen));
        m_painter.setBrush(brush ? MakeBrush(dc) : QBrush(Qt::NoBrush));
        m_painter.setBackgroundMode(dc->bgmode == OPAQUE ? Qt::OpaqueMode : Qt::TransparentMode);
        m_painter.setBackground(Color(dc->bgcolor));
    }

    bool Skip(const wmfDC* dc) const { return dc->ROPmode == R2_NOP; }

    QPen MakePen(const wmfDC* dc) const {
        const wmfPen* pen = dc->pen;
        if (!pen) return QPen(Qt::NoPen);
        const int style = pen->lopnStyle & PS_STYLE_MASK;
        if (style == PS_NULL) return QPen(Qt::NoPen);
        const int width = std::max(1, int(std::lround(pen->width * std::fabs(m_kx))));
        QPen q(RopColor(dc->ROPmode, Color(pen->lopnColor)), width);
        // Styled lines exist only one pixel wide; wider pens are solid, as on the system that wrote them.
        if (width == 1) {
            switch (style) {
            case PS_DASH: q.setStyle(Qt::DashLine); break;
            case PS_DOT: q.setStyle(Qt::DotLine); break;
            case PS_DASHDOT: q.setStyle(Qt::DashDotLine); break;
            case PS_DASHDOTDOT: q.setStyle(Qt::DashDotDotLine); break;
            default: break;
            }
        }
        switch (pen->lopnStyle & PS_ENDCAP_MASK) {
        case PS_ENDCAP_SQUARE: q.setCapStyle(Qt::SquareCap); break;
        case PS_ENDCAP_FLAT: q.setCapStyle(Qt::FlatCap); break;
        default: q.setCapStyle(Qt::RoundCap); break;
        }
        switch (pen->lopnStyle & PS_JOIN_MASK) {
        case PS_JOIN_BEVEL: q.setJoinStyle(Qt::BevelJoin); break;
        case PS_JOIN_MITER: q.setJoinStyle(Qt::MiterJoin); break;
        default: q.setJoinStyle(Qt::RoundJoin); break;
        }
        return q;
    }

    QBrush MakeBrush(const wmfDC* dc) const {
        const wmfBrush* brush = dc->brush;
        if (!brush) return QBrush(Qt::NoBrush);
        const QColor color = RopColor(dc->ROPmode, Color(brush->lbColor));
        switch (brush->lbStyle) {
        case BS_NULL:
            return QBrush(Qt::NoBrush);
        case BS_HATCHED:
            switch (brush->lbHatch) {
            case HS_HORIZONTAL: return QBrush(color, Qt::HorPattern);
            case HS_VERTICAL: return QBrush(color, Qt::VerPattern);
            case HS_FDIAGONAL: return QBrush(color, Qt::FDiagPattern);
            case HS_BDIAGONAL: return QBrush(color, Qt::BDiagPattern);
            case HS_CROSS: return QBrush(color, Qt::CrossPattern);
            default: return QBrush(color, Qt::DiagCrossPattern);
            }
        case BS_PATTERN:
        case BS_DIBPATTERN:
        case BS_DIBPATTERNPT:
        case BS_PATTERN8X8:
        case BS_DIBPATTERN8X8:
            if (brush->bmp.data) return QBrush(*static_cast<const QImage*>(brush->bmp.data));
            return QBrush(color);
        default:
            return QBrush(color);
        }
    }

    static QPainter::CompositionMode Composition(int rop2) {
        switch (rop2) {
        case R2_XORPEN: return QPainter::RasterOp_SourceXorDestination;
        case R2_NOT: return QPainter::RasterOp_NotDestination;
        case R2_NOTCOPYPEN: return QPainter::RasterOp_NotSource;
        case R2_MASKPEN: return QPainter::RasterOp_SourceAndDestination;
        case R2_MERGEPEN: return QPainter::RasterOp_SourceOrDestination;
        case R2_NOTMERGEPEN: return QPainter::RasterOp_NotSourceAndNotDestination;
        case R2_NOTMASKPEN: return QPainter::RasterOp_NotSourceOrNotDestination;
        case R2_NOTXORPEN: return QPainter::RasterOp_NotSourceXorDestination;
        case R2_MASKPENNOT: return QPainter::RasterOp_SourceAndNotDestination;
        case R2_MASKNOTPEN: return QPainter::RasterOp_NotSourceAndDestination;
        default: return QPainter::CompositionMode_SourceOver;
        }
    }
    static QColor RopColor(int rop2, const QColor& color) {
        if (rop2 == R2_BLACK) return Qt::black;
        if (rop2 == R2_WHITE) return Qt::white;
        return color;
    }

    // --- shapes.
    void Rectangle(wmfDrawRectangle_t* r) {
        if (Skip(r->dc)) return;
        Prepare(r->dc, false, true);
        const QRect box = MapRect(r->TL, r->BR);
        if (box.isEmpty()) return;
        const double rx = std::fabs(r->width * m_kx) / 2, ry = std::fabs(r->height * m_ky) / 2;
        const QRectF outline(box.x(), box.y(), box.width() - 1, box.height() - 1);
        if (rx > 0 && ry > 0) {
            Prepare(r->dc, true, true);
            m_painter.drawRoundedRect(outline, rx, ry);
            return;
        }
        m_painter.drawRect(box);
        Prepare(r->dc, true, false);
        m_painter.drawRect(outline);
    }

    enum class ArcKind { Arc, Pie, Chord, Ellipse };
    void ArcShape(wmfDrawArc_t* a, ArcKind kind) {
        if (Skip(a->dc)) return;
        Prepare(a->dc, true, kind != ArcKind::Arc);
        const QRect box = MapRect(a->TL, a->BR);
        const QRectF outline(box.x(), box.y(), box.width() - 1, box.height() - 1);
        if (kind == ArcKind::Ellipse) {
            m_painter.drawEllipse(outline);
            return;
        }
        // The radials run from the centre through the two points, counter-clockwise from the record's
        // first radial to its second. The player hands them over the other way round ("end" is the first).
        const double start = std::atan2(-a->end.y * m_ky, a->end.x * m_kx) * 180 / M_PI;
        const double end = std::atan2(-a->start.y * m_ky, a->start.x * m_kx) * 180 / M_PI;
        double span = end - start;
        while (span <= 0) span += 360;
        const int a16 = int(std::lround(start * 16)), s16 = int(std::lround(span * 16));
        if (kind == ArcKind::Arc) m_painter.drawArc(outline, a16, s16);
        else if (kind == ArcKind::Pie) m_painter.drawPie(outline, a16, s16);
        else m_painter.drawChord(outline, a16, s16);
    }

    QPolygonF Polygon(const wmfD_Coord* pt, int count) const {
        QPolygonF poly;
        poly.reserve(count);
        for (int i = 0; i < count; ++i) poly.append(Map(pt[i]));
        return poly;
    }

    void Line(wmfDrawLine_t* l) {
        if (Skip(l->dc)) return;
        Prepare(l->dc, true, false);
        m_painter.drawLine(Map(l->from), Map(l->to));
    }
    void PolyLine(wmfPolyLine_t* p) {
        if (Skip(p->dc) || p->count < 2) return;
        Prepare(p->dc, true, false);
        m_painter.drawPolyline(Polygon(p->pt, p->count));
    }
    void PolygonShape(wmfPolyLine_t* p) {
        if (Skip(p->dc) || p->count < 2) return;
        Prepare(p->dc, true, true);
        m_painter.drawPolygon(Polygon(p->pt, p->count),
                              p->dc->polyfillmode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    }
    void PolyPolygon(wmfPolyPoly_t* p) {
        if (Skip(p->dc)) return;
        Prepare(p->dc, true, true);
        QPainterPath path;
        path.setFillRule(p->dc->polyfillmode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
        for (int i = 0; i < p->npoly; ++i) {
            if (!p->pt[i] || p->count[i] < 2) continue;
            path.addPolygon(Polygon(p->pt[i], p->count[i]));
            path.closeSubpath();
        }
        m_painter.drawPath(path);
    }
    void Pixel(wmfDrawPixel_t* p) {
        UseDc(p->dc);
        m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        const QPointF at = Map(p->pt);
        m_painter.fillRect(QRect(int(std::floor(at.x())), int(std::floor(at.y())), 1, 1), Color(p->color));
    }

    // --- raster operations on a rectangle with the brush (PatBlt and the bitmap records without a bitmap).
    void RopRect(wmfROP_Draw_t* r) {
        UseDc(r->dc);
        const QRect box = MapRect(r->TL, r->BR);
        m_painter.setPen(Qt::NoPen);
        switch (r->ROP) {
        case BLACKNESS: m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            m_painter.fillRect(box, Qt::black); break;
        case WHITENESS: m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            m_painter.fillRect(box, Qt::white); break;
        case DSTINVERT: m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
            m_painter.fillRect(box, Qt::white); break;
        case PATINVERT: m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            m_painter.fillRect(box, MakeBrush(r->dc)); break;
        default: m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            m_painter.fillRect(box, MakeBrush(r->dc)); break;
        }
        m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    // --- bitmaps.
    static QPainter::CompositionMode BitmapComposition(unsigned rop) {
        switch (rop) {
        case SRCAND: return QPainter::RasterOp_SourceAndDestination;
        case SRCPAINT: return QPainter::RasterOp_SourceOrDestination;
        case SRCINVERT: return QPainter::RasterOp_SourceXorDestination;
        case SRCERASE: return QPainter::RasterOp_SourceAndNotDestination;
        case NOTSRCCOPY: return QPainter::RasterOp_NotSource;
        case NOTSRCERASE: return QPainter::RasterOp_NotSourceAndNotDestination;
        case MERGEPAINT: return QPainter::RasterOp_NotSourceOrDestination;
        default: return QPainter::CompositionMode_SourceOver;
        }
    }
    void Bitmap(wmfBMP_Draw_t* b) {
        if (!b->bmp.data) return;
        UseDc(b->dc);
        const QImage& image = *static_cast<const QImage*>(b->bmp.data);
        // The crop is counted from the bitmap's bottom row, as a bottom-up DIB stores it.
        const QRect source(b->crop.x, image.height() - b->crop.y - b->crop.h, b->crop.w, b->crop.h);
        const QPointF at = Map(b->pt);
        QRectF target(at.x(), at.y(), b->crop.w * b->pixel_width * m_kx, b->crop.h * b->pixel_height * m_ky);
        QImage part = image.copy(source);
        const bool mirrorX = target.width() < 0, mirrorY = target.height() < 0;
        if (mirrorX || mirrorY) part = part.mirrored(mirrorX, mirrorY);
        m_painter.setCompositionMode(BitmapComposition(b->type));
        m_painter.drawImage(target.normalized(), part);
        m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    // --- regions.
    QRegion Region(const wmfPolyRectangle_t* r) const {
        QRegion region;
        for (unsigned i = 0; i < r->count; ++i) region += MapRect(r->TL[i], r->BR[i]);
        return region;
    }
    void RegionClip(wmfPolyRectangle_t* r) {
        UseDc(r->dc);
        if (r->count == 0) {
            m_painter.setClipping(false);
            return;
        }
        m_painter.setClipRegion(Region(r));
    }
    void RegionPaint(wmfPolyRectangle_t* r) {
        Prepare(r->dc, false, true);
        for (const QRect& box : Region(r)) m_painter.drawRect(box);
    }
    void RegionFrame(wmfPolyRectangle_t* r) {
        Prepare(r->dc, false, true);
        const int w = std::max(1, int(std::lround(std::fabs(r->width * m_kx))));
        const int h = std::max(1, int(std::lround(std::fabs(r->height * m_ky))));
        for (const QRect& box : Region(r)) {
            m_painter.drawRect(QRect(box.left(), box.top(), box.width(), h));
            m_painter.drawRect(QRect(box.left(), box.bottom() - h + 1, box.width(), h));
            m_painter.drawRect(QRect(box.left(), box.top(), w, box.height()));
            m_painter.drawRect(QRect(box.right() - w + 1, box.top(), w, box.height()));
        }
    }

    // --- text.
    void Text(wmfDrawText_t* t);

private:
    static double Scale(double unit, S32 windowExtent, int mapMode, int tile, int himetric) {
        if (mapMode == kMmIsotropic || mapMode == kMmAnisotropic) {
            const double viewport = unit * windowExtent;
            if (viewport != 0 && std::isfinite(viewport)) return tile / viewport;
        }
        // Fixed mapping modes: the player counts in points.
        return tile / (himetric * 72.0 / 2540.0);
    }

    QPainter m_painter;
    int m_width;
    int m_height;
    const WmfLayout& m_layout;
    double m_kx = 1;
    double m_ky = 1;

    std::optional<QFont> m_font;
    std::optional<QFontMetricsF> m_metrics;

    // A double-byte character split over two calls (the player draws spaced text one byte at a time).
    bool m_leadPending = false;
    char m_lead = 0;
    wmfD_Coord m_leadPoint{};
};

// --- text decoding: the font's character set names the code page of its bytes.
const char* CodePage(int charset) {
    switch (charset) {
    case 77: return "MACINTOSH";
    case 128: return "CP932";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "GB18030";  // GB2312 text, and whatever GBK or GB18030 a writer put beyond it
    case 136: return "BIG5";
    case 161: return "CP1253";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "CP1255";
    case 178: return "CP1256";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 255: return "CP437";
    default: return "CP1252";
    }
}

bool DoubleByte(int charset) {
    return charset == 128 || charset == 129 || charset == 130 || charset == 134 || charset == 136;
}

bool LeadByte(int charset, unsigned char byte) {
    if (!DoubleByte(charset)) return false;
    if (charset == 128) return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return byte >= 0x81 && byte <= 0xFE;
}

// One converter per character set, opened on first use and kept for the thread's life: a metafile may
// hold thousands of texts.
class Converters {
public:
    ~Converters() {
        for (auto& [charset, cd] : m_open)
            if (cd != iconv_t(-1)) iconv_close(cd);
    }
    iconv_t For(int charset) {
        auto it = m_open.find(charset);
        if (it == m_open.end()) it = m_open.emplace(charset, iconv_open("UTF-8", CodePage(charset))).first;
        else iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return it->second;
    }

private:
    std::map<int, iconv_t> m_open;
};

QString Decode(const QByteArray& bytes, int charset) {
    thread_local Converters converters;
    iconv_t cd = converters.For(charset);
    if (cd == iconv_t(-1)) return QString::fromLatin1(bytes);
    std::string out(bytes.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1)) break;
        if (outLeft < 4) break;
        // An undecodable byte shows as a replacement character, and decoding goes on after it.
        *outPtr++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    out.resize(out.size() - outLeft);
    return QString::fromStdString(out);
}

QFont MakeFont(const wmfFont* font, double pixelHeight) {
    QFont f;
    if (font->lfFaceName && *font->lfFaceName) f.setFamilies({QString::fromLatin1(font->lfFaceName)});
    f.setPixelSize(std::max(1, int(std::lround(pixelHeight))));
    const int weight = font->lfWeight == 0 ? 400 : std::clamp<int>(font->lfWeight, 100, 900);
    f.setWeight(QFont::Weight(weight));
    f.setItalic(font->lfItalic != 0);
    f.setUnderline(font->lfUnderline != 0);
    f.setStrikeOut(font->lfStrikeOut != 0);
    return f;
}

bool CanUseFonts() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

void Device::Text(wmfDrawText_t* t) {
    if (!CanUseFonts() || !t->str || !t->dc->font) return;
    const wmfDC* dc = t->dc;
    const wmfFont* font = dc->font;
    const int charset = font->lfCharSet;
    QByteArray raw(t->str);
    wmfD_Coord point = t->pt;
    if (raw.size() == 1 && DoubleByte(charset)) {
        if (m_leadPending) {
            raw.prepend(m_lead);
            point = m_leadPoint;
            m_leadPending = false;
        } else if (LeadByte(charset, static_cast<unsigned char>(raw[0]))) {
            m_leadPending = true;
            m_lead = raw[0];
            m_leadPoint = t->pt;
            return;
        }
    } else {
        m_leadPending = false;
    }
    const QString text = Decode(raw, charset);
    if (text.isEmpty()) return;

    UseDc(dc);
    const double heightD = t->font_height;
    // Spaced text comes one character at a time in the same font: keep the last font and its metrics.
    const QFont wanted = MakeFont(font, heightD * std::fabs(m_ky));
    if (!m_font || !(*m_font == wanted)) {
        m_font = wanted;
        m_metrics.emplace(wanted);
    }
    const QFont& qfont = *m_font;
    const QFontMetricsF& metrics = *m_metrics;
    const double angle = font->lfEscapement / 10.0;
    const double theta = -angle * M_PI / 180;
    // For top-aligned text the player guessed the baseline one font height below the reference point;
    // take the guess back and use the font's own ascent (and its descent for bottom-aligned text, which
    // the player leaves on the reference point).
    const unsigned align = dc->textalign;
    double down = 0;  // pixels from the reference point to the baseline
    if ((align & TA_BASELINE) == TA_BASELINE) {
    } else if (align & TA_BOTTOM) {
        down = -metrics.descent();
    } else {
        point.x += float(heightD * std::sin(theta));
        point.y -= float(heightD * std::cos(theta));
        down = metrics.ascent();
    }
    const double rad = angle * M_PI / 180;
    const QPointF origin = Map(point) + QPointF(down * std::sin(rad), down * std::cos(rad));

    m_painter.save();
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (t->flags & (ETO_OPAQUE | ETO_CLIPPED)) {
        const QRect box = MapRect(t->TL, t->BR);
        if (t->flags & ETO_OPAQUE) m_painter.fillRect(box, Color(dc->bgcolor));
        if (t->flags & ETO_CLIPPED) m_painter.setClipRect(box, Qt::IntersectClip);
    }
    m_painter.translate(origin);
    m_painter.rotate(-angle);
    if (dc->bgmode == OPAQUE)
        m_painter.fillRect(QRectF(0, -metrics.ascent(), metrics.horizontalAdvance(text), metrics.height()),
                           Color(dc->bgcolor));
    m_painter.setFont(qfont);
    m_painter.setPen(Color(dc->textcolor));
    m_painter.drawText(QPointF(0, 0), text);
    m_painter.restore();
}

// --- the player's side: plain functions that find our device through the API's device data.
struct DeviceData {
    Device* device;
    bool scanning;  // the player's first pass, which only measures
};
Device* D(wmfAPI* api) { return static_cast<DeviceData*>(api->device_data)->device; }

void MapFontNothing(wmfAPI*, wmfFont* font) { font->user_data = nullptr; }

// Width of the text in units of the font's height, for the player's alignment arithmetic.
float StringWidth(wmfAPI* api, wmfFont* font, char* str) {
    // The measuring pass only wants a bounding box, which we never use.
    if (static_cast<DeviceData*>(api->device_data)->scanning) return 0;
    if (!CanUseFonts() || !str || !font) return 0;
    constexpr double kProbe = 100;
    // Metrics per font face and style, kept for the thread's life (bounded).
    thread_local std::map<std::tuple<QString, int, bool>, QFontMetricsF> cache;
    const QFont probe = MakeFont(font, kProbe);
    const auto key = std::make_tuple(probe.family(), int(probe.weight()), probe.italic());
    auto it = cache.find(key);
    if (it == cache.end()) {
        if (cache.size() > 64) cache.clear();
        it = cache.emplace(key, QFontMetricsF(probe)).first;
    }
    const QFontMetricsF& metrics = it->second;
    const double ratio = font->lfHeight ? double(font->lfWidth) / font->lfHeight : 1;
    const double width = metrics.horizontalAdvance(Decode(QByteArray(str), font->lfCharSet)) / kProbe;
    return float(ratio > 0 ? width / ratio : width);
}

void BmpRead(wmfAPI*, wmfBMP_Read_t* r) {
    r->bmp.data = nullptr;
    r->bmp.width = r->bmp.height = 0;
    if (!r->buffer || r->length < 12) return;
    const auto* p = r->buffer;
    auto u16 = [p](int i) { return unsigned(p[i] | (p[i + 1] << 8)); };
    auto u32 = [&](int i) { return u16(i) | (u16(i + 2) << 16); };
    const unsigned headerSize = u32(0);
    qint64 width = 0, height = 0;
    unsigned bits = 0, compression = 0, colours = 0;
    if (headerSize == 12) {
        width = u16(4);
        height = u16(6);
        bits = u16(10);
    } else if (headerSize >= 40 && r->length >= 40) {
        width = qint32(u32(4));
        height = qint32(u32(8));
        bits = u16(14);
        compression = u32(16);
        colours = u32(32);
    } else {
        return;
    }
    width = std::llabs(width);
    height = std::llabs(height);
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || width * height > kMaxDibPixels) return;
    qint64 palette = 0;
    if (bits <= 8) palette = (colours ? std::min<qint64>(colours, 256) : (qint64(1) << bits)) * (headerSize == 12 ? 3 : 4);
    if (compression == 3 && headerSize == 40) palette = 12;  // the three colour masks
    // The bitmap file header the decoder wants in front of the device-independent bitmap.
    QByteArray file;
    file.reserve(14 + r->length);
    file.append("BM", 2);
    auto put32 = [&file](quint32 v) { for (int i = 0; i < 4; ++i) file.append(char((v >> (8 * i)) & 0xFF)); };
    put32(quint32(14 + r->length));
    put32(0);
    put32(quint32(14 + headerSize + palette));
    file.append(reinterpret_cast<const char*>(p), r->length);
    auto* image = new QImage();
    if (!image->loadFromData(file, "BMP") || image->isNull()) {
        delete image;
        return;
    }
    r->bmp.width = static_cast<unsigned short>(image->width());
    r->bmp.height = static_cast<unsigned short>(image->height());
    r->bmp.data = image;
}

void BmpFree(wmfAPI*, wmfBMP* bmp) {
    delete static_cast<QImage*>(bmp->data);
    bmp->data = nullptr;
}

void DeviceFunction(wmfAPI* api) {
    auto* fr = static_cast<wmfFunctionReference*>(api->function_reference);
    fr->draw_pixel = [](wmfAPI* a, wmfDrawPixel_t* p) { D(a)->Pixel(p); };
    fr->draw_pie = [](wmfAPI* a, wmfDrawArc_t* p) { D(a)->ArcShape(p, Device::ArcKind::Pie); };
    fr->draw_chord = [](wmfAPI* a, wmfDrawArc_t* p) { D(a)->ArcShape(p, Device::ArcKind::Chord); };
    fr->draw_arc = [](wmfAPI* a, wmfDrawArc_t* p) { D(a)->ArcShape(p, Device::ArcKind::Arc); };
    fr->draw_ellipse = [](wmfAPI* a, wmfDrawArc_t* p) { D(a)->ArcShape(p, Device::ArcKind::Ellipse); };
    fr->draw_line = [](wmfAPI* a, wmfDrawLine_t* p) { D(a)->Line(p); };
    fr->poly_line = [](wmfAPI* a, wmfPolyLine_t* p) { D(a)->PolyLine(p); };
    fr->draw_polygon = [](wmfAPI* a, wmfPolyLine_t* p) { D(a)->PolygonShape(p); };
    fr->draw_polypolygon = [](wmfAPI* a, wmfPolyPoly_t* p) { D(a)->PolyPolygon(p); };
    fr->draw_rectangle = [](wmfAPI* a, wmfDrawRectangle_t* p) { D(a)->Rectangle(p); };
    fr->rop_draw = [](wmfAPI* a, wmfROP_Draw_t* p) { D(a)->RopRect(p); };
    fr->bmp_draw = [](wmfAPI* a, wmfBMP_Draw_t* p) { D(a)->Bitmap(p); };
    fr->bmp_read = BmpRead;
    fr->bmp_free = BmpFree;
    fr->draw_text = [](wmfAPI* a, wmfDrawText_t* p) { D(a)->Text(p); };
    fr->region_frame = [](wmfAPI* a, wmfPolyRectangle_t* p) { D(a)->RegionFrame(p); };
    fr->region_paint = [](wmfAPI* a, wmfPolyRectangle_t* p) { D(a)->RegionPaint(p); };
    fr->region_clip = [](wmfAPI* a, wmfPolyRectangle_t* p) { D(a)->RegionClip(p); };

    auto* data = static_cast<DeviceData*>(wmf_malloc(api, sizeof(DeviceData)));
    if (data) {
        data->device = nullptr;
        data->scanning = false;
    }
    api->device_data = data;
    auto* fonts = static_cast<wmfFontData*>(wmf_malloc(api, sizeof(wmfFontData)));
    if (fonts) {
        fonts->map = MapFontNothing;
        fonts->stringwidth = StringWidth;
        fonts->user_data = nullptr;
    }
    api->font_data = fonts;
}

}  // namespace

bool CWmfDevice::Play(const WmfLayout& layout, QImage* target) {
    wmfAPI_Options options{};
    options.function = DeviceFunction;
    wmfAPI* api = nullptr;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_lite_create(&api, flags, &options) != wmf_E_None || !api) return false;
    if (!api->device_data || !api->font_data) {
        wmf_lite_destroy(api);
        return false;
    }
    QByteArray bytes = layout.playable;  // the player wants a writable buffer
    Device device(target, layout);
    auto* data = static_cast<DeviceData*>(api->device_data);
    data->device = &device;
    bool started = false;
    if (wmf_mem_open(api, reinterpret_cast<unsigned char*>(bytes.data()), long(bytes.size())) == wmf_E_None) {
        wmfD_Rect box;
        // A fault part-way stops the player; what it drew so far stays in the tile.
        data->scanning = true;
        const wmf_error_t scanned = wmf_scan(api, 0, &box);
        data->scanning = false;
        if (scanned == wmf_E_None) {
            started = true;
            wmf_play(api, 0, &box);
        }
        wmf_mem_close(api);
    }
    wmf_lite_destroy(api);
    return started;
}

}  // namespace vox

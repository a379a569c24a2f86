#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdint>

// Drawing vocabulary shared by every picture: one palette, one way to letter, glow and bevel,
// so the windows look like one set.
namespace Art {

namespace Colors {
const QColor goldLight(0xff, 0xf1, 0xbe);
const QColor gold(0xe3, 0xb4, 0x58);
const QColor goldDark(0x8a, 0x5c, 0x1c);
const QColor goldDeep(0x3c, 0x25, 0x08);
const QColor navyDeep(0x06, 0x0e, 0x1a);
const QColor navy(0x0e, 0x1f, 0x35);
const QColor navyLight(0x1e, 0x3d, 0x60);
const QColor jade(0x5f, 0xe6, 0xd6);
const QColor jadeDeep(0x0c, 0x5a, 0x5e);
const QColor crimson(0xd2, 0x3c, 0x26);
const QColor crimsonDeep(0x5a, 0x0c, 0x08);
const QColor parchment(0xf7, 0xea, 0xc6);
const QColor parchmentDark(0xd8, 0xbd, 0x86);
} // namespace Colors

enum class State { Normal, Over, Click, Disable };

// Deterministic noise: the same seed gives the same grain on every run and machine.
class Noise
{
public:
    explicit Noise(std::uint32_t seed)
        : m_state(seed ? seed : 1)
    { }
    std::uint32_t next();
    double uniform() { return next() / 4294967296.0; }

private:
    std::uint32_t m_state;
};

// Loads the CJK fonts from their files so the result does not depend on fontconfig's choice.
bool loadFonts(QString *error);
QFont serif(qreal pixelSize, int weight = QFont::Bold);
QFont sans(qreal pixelSize, int weight = QFont::Normal);

QImage newImage(QSize size);
void setupPainter(QPainter &p);

// Outline of a text, placed in rect. The vertical placement uses the extent of a full-height
// ideograph so that labels of one font share a baseline whatever their characters.
QPainterPath textPath(const QString &text, const QFont &font, const QRectF &rect,
    Qt::Alignment align = Qt::AlignCenter, qreal letterSpacing = 0);

QImage blurred(const QImage &source, int radius);
// A soft halo of the shape, spread outward by spread pixels before blurring.
void drawGlow(QPainter &p, const QPainterPath &shape, const QColor &color, int radius, qreal spread = 0);
void drawShadow(QPainter &p, const QPainterPath &shape, QPointF offset, const QColor &color, int radius);

QLinearGradient goldGradient(qreal top, qreal bottom, qreal brightness = 1.0);
QLinearGradient vertical(qreal top, qreal bottom, const QColor &a, const QColor &b);

// Gilded lettering: shadow, dark outline, metal fill and a thin highlight.
struct Lettering
{
    QBrush fill;
    QColor outline = Colors::goldDeep;
    qreal outlineWidth = 3;
    QColor shadow = QColor(0, 0, 0, 170);
    QPointF shadowOffset = QPointF(0, 2);
    int shadowRadius = 3;
    QColor glow = Qt::transparent;
    int glowRadius = 0;
};
void drawLettering(QPainter &p, const QPainterPath &text, const Lettering &style);

// A gold band of the given width stroked along the path, lit from above.
void strokeGold(QPainter &p, const QPainterPath &path, qreal width, qreal brightness = 1.0);
void fillGrain(QPainter &p, const QPainterPath &clip, std::uint32_t seed, int alpha);
// Faint cloud scrolls, the motif of the title, laid over a surface.
void drawCloudCurl(QPainter &p, QPointF centre, qreal size, const QColor &color, bool mirrored);
void drawDiamond(QPainter &p, QPointF centre, qreal radius, const QColor &light, const QColor &dark);

QImage toGrey(const QImage &source, qreal brightness);
QColor mix(const QColor &a, const QColor &b, qreal t);

} // namespace Art

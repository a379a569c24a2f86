#include "Art.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Art {

namespace {
const char *const fontFiles[] = {
    "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc",
};

// One horizontal then one vertical running-sum pass over premultiplied pixels.
void boxBlurPass(std::vector<float> &data, int width, int height, int radius, bool horizontal)
{
    const int length = horizontal ? width : height;
    const int lines = horizontal ? height : width;
    std::vector<float> line(static_cast<size_t>(length) * 4);
    const float norm = 1.0f / float(2 * radius + 1);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> float * {
            const int x = horizontal ? i : l;
            const int y = horizontal ? l : i;
            return &data[(static_cast<size_t>(y) * width + x) * 4];
        };
        for (int i = 0; i < length; ++i)
            std::copy(at(i), at(i) + 4, &line[static_cast<size_t>(i) * 4]);
        float sum[4] = {0, 0, 0, 0};
        auto sample = [&](int i, int c) { return (i < 0 || i >= length) ? 0.0f : line[i * 4 + c]; };
        for (int i = -radius; i <= radius; ++i)
            for (int c = 0; c < 4; ++c)
                sum[c] += sample(i, c);
        for (int i = 0; i < length; ++i) {
            float *out = at(i);
            for (int c = 0; c < 4; ++c) {
                out[c] = sum[c] * norm;
                sum[c] += sample(i + radius + 1, c) - sample(i - radius, c);
            }
        }
    }
}
} // namespace

std::uint32_t Noise::next()
{
    // xorshift32
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
}

bool loadFonts(QString *error)
{
    for (const char *file : fontFiles) {
        const QString path = QString::fromLatin1(file);
        if (!QFileInfo::exists(path) || QFontDatabase::addApplicationFont(path) < 0) {
            *error = QStringLiteral("cannot load %1 (Debian package fonts-noto-cjk)").arg(path);
            return false;
        }
    }
    return true;
}

namespace {

QFont cjkFont(const QString &family, qreal pixelSize, int weight)
{
    QFont font(family);
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

} // namespace

QFont serif(qreal pixelSize, int weight)
{
    return cjkFont(QStringLiteral("Noto Serif CJK TC"), pixelSize, weight);
}

QFont sans(qreal pixelSize, int weight)
{
    return cjkFont(QStringLiteral("Noto Sans CJK TC"), pixelSize, weight);
}

QImage newImage(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void setupPainter(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QPainterPath textPath(
    const QString &text, const QFont &baseFont, const QRectF &rect, Qt::Alignment align, qreal letterSpacing)
{
    QFont font = baseFont;
    if (letterSpacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    QPainterPath path;
    path.addText(0, 0, font, text);
    QPainterPath reference;
    reference.addText(0, 0, font, QStringLiteral("國"));
    const QRectF ref = reference.boundingRect();
    const QRectF box = path.boundingRect();

    qreal x = rect.center().x() - box.center().x();
    if (align & Qt::AlignLeft)
        x = rect.left() - box.left();
    else if (align & Qt::AlignRight)
        x = rect.right() - box.right();
    qreal y = rect.center().y() - ref.center().y();
    if (align & Qt::AlignTop)
        y = rect.top() - ref.top();
    else if (align & Qt::AlignBottom)
        y = rect.bottom() - ref.bottom();
    path.translate(x, y);
    return path;
}

QImage blurred(const QImage &source, int radius)
{
    const QImage src = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = src.width();
    const int h = src.height();
    std::vector<float> data(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            float *d = &data[(static_cast<size_t>(y) * w + x) * 4];
            d[0] = qRed(line[x]);
            d[1] = qGreen(line[x]);
            d[2] = qBlue(line[x]);
            d[3] = qAlpha(line[x]);
        }
    }
    // Three box passes approximate a Gaussian.
    const int pass = std::max(1, radius / 2);
    for (int i = 0; i < 3; ++i) {
        boxBlurPass(data, w, h, pass, true);
        boxBlurPass(data, w, h, pass, false);
    }
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const float *d = &data[(static_cast<size_t>(y) * w + x) * 4];
            auto c = [](float v) { return std::clamp(int(std::lround(v)), 0, 255); };
            const int a = c(d[3]);
            line[x] = qRgba(std::min(c(d[0]), a), std::min(c(d[1]), a), std::min(c(d[2]), a), a);
        }
    }
    return out;
}

void drawGlow(QPainter &p, const QPainterPath &shape, const QColor &color, int radius, qreal spread)
{
    const QSize size(p.device()->width(), p.device()->height());
    QImage layer = newImage(size);
    {
        QPainter lp(&layer);
        setupPainter(lp);
        lp.setTransform(p.transform());
        lp.setPen(
            spread > 0 ? QPen(color, spread * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin) : Qt::NoPen);
        lp.setBrush(color);
        lp.drawPath(shape);
    }
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, blurred(layer, radius));
    p.restore();
}

void drawShadow(QPainter &p, const QPainterPath &shape, QPointF offset, const QColor &color, int radius)
{
    drawGlow(p, shape.translated(offset), color, radius, 0);
}

QLinearGradient goldGradient(qreal top, qreal bottom, qreal brightness)
{
    auto shade = [brightness](const QColor &c) {
        return brightness >= 1 ? c.lighter(int(100 * brightness)) : c.darker(int(100 / brightness));
    };
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0.0, shade(Colors::goldLight));
    g.setColorAt(0.38, shade(Colors::gold));
    g.setColorAt(0.52, shade(QColor(0xa8, 0x74, 0x26)));
    g.setColorAt(0.7, shade(Colors::gold));
    g.setColorAt(1.0, shade(Colors::goldDark));
    return g;
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor &a, const QColor &b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

void drawLettering(QPainter &p, const QPainterPath &text, const Lettering &style)
{
    if (style.shadow.alpha() > 0)
        drawShadow(p, text, style.shadowOffset, style.shadow, style.shadowRadius);
    if (style.glow.alpha() > 0)
        drawGlow(p, text, style.glow, style.glowRadius, style.outlineWidth);
    p.save();
    if (style.outlineWidth > 0) {
        p.setPen(QPen(style.outline, style.outlineWidth * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(text);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(style.fill);
    p.drawPath(text);
    p.restore();
}

void strokeGold(QPainter &p, const QPainterPath &path, qreal width, qreal brightness)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setJoinStyle(Qt::MiterJoin);
    stroker.setCapStyle(Qt::FlatCap);
    const QPainterPath band = stroker.createStroke(path).simplified();
    const QRectF box = band.boundingRect();
    p.save();
    p.setPen(QPen(QColor(0x2a, 0x18, 0x04, 200), 0.8));
    p.setBrush(goldGradient(box.top(), box.bottom(), brightness));
    p.drawPath(band);
    p.restore();
}

void fillGrain(QPainter &p, const QPainterPath &clip, std::uint32_t seed, int alpha)
{
    QImage tile(128, 128, QImage::Format_ARGB32_Premultiplied);
    Noise noise(seed);
    for (int y = 0; y < tile.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(tile.scanLine(y));
        for (int x = 0; x < tile.width(); ++x) {
            // Sparse specks compress far better than full noise and read the same.
            const std::uint32_t r = noise.next();
            const int a = (r % 100) < 7 ? alpha : 0;
            line[x] = (r >> 8) & 1 ? qRgba(a, a, a, a) : qRgba(0, 0, 0, a);
        }
    }
    p.save();
    p.setClipPath(clip, Qt::IntersectClip);
    p.fillRect(clip.boundingRect(), QBrush(tile));
    p.restore();
}

void drawCloudCurl(QPainter &p, QPointF centre, qreal size, const QColor &color, bool mirrored)
{
    const qreal dir = mirrored ? -1 : 1;
    QPainterPath spiral;
    const int steps = 60;
    const qreal turns = 1.6 * M_PI * 2 / 2;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = qreal(i) / steps;
        const qreal angle = t * turns * 2;
        const qreal r = size * (0.06 + 0.42 * t);
        const QPointF pt(centre.x() + dir * r * std::cos(angle), centre.y() - r * std::sin(angle));
        if (i == 0)
            spiral.moveTo(pt);
        else
            spiral.lineTo(pt);
    }
    // The tail that trails off sideways, as in the classic cloud scroll.
    const QPointF end = spiral.currentPosition();
    spiral.cubicTo(end + QPointF(dir * size * 0.35, size * 0.25),
        end + QPointF(dir * size * 0.9, size * 0.05), end + QPointF(dir * size * 1.25, -size * 0.02));
    p.save();
    p.setPen(QPen(color, std::max(1.0, size * 0.11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(spiral);
    p.restore();
}

void drawDiamond(QPainter &p, QPointF c, qreal r, const QColor &light, const QColor &dark)
{
    QPainterPath d;
    d.moveTo(c.x(), c.y() - r);
    d.lineTo(c.x() + r * 0.75, c.y());
    d.lineTo(c.x(), c.y() + r);
    d.lineTo(c.x() - r * 0.75, c.y());
    d.closeSubpath();
    p.save();
    QLinearGradient g(c.x() - r, c.y() - r, c.x() + r, c.y() + r);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setPen(QPen(Colors::goldDeep, std::max(0.8, r * 0.15)));
    p.setBrush(g);
    p.drawPath(d);
    p.restore();
}

QImage toGrey(const QImage &source, qreal brightness)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = line[x];
            const int grey = std::clamp(int(qGray(c) * brightness), 0, 255);
            line[x] = qRgba(grey, grey, int(std::min(255.0, grey * 1.04)), qAlpha(c));
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QColor mix(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
        a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

} // namespace Art

#include "Pictures.h"

#include "Art.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

using namespace Art;

namespace {

// A plaque with pointed ends, the shape of banners and long buttons.
QPainterPath plaqueShape(const QRectF &r, qreal point)
{
    QPainterPath path;
    path.moveTo(r.left() + point, r.top());
    path.lineTo(r.right() - point, r.top());
    path.lineTo(r.right(), r.center().y());
    path.lineTo(r.right() - point, r.bottom());
    path.lineTo(r.left() + point, r.bottom());
    path.lineTo(r.left(), r.center().y());
    path.closeSubpath();
    return path;
}

void fillLacquer(QPainter &p, const QPainterPath &shape, qreal glowStrength, std::uint32_t seed)
{
    const QRectF box = shape.boundingRect();
    p.fillPath(shape, vertical(box.top(), box.bottom(), Colors::navyLight, Colors::navyDeep));
    QRadialGradient sheen(box.center(), box.width() * 0.5);
    sheen.setColorAt(0, QColor(0x3a, 0x8c, 0xa8, int(110 * glowStrength)));
    sheen.setColorAt(1, QColor(0x3a, 0x8c, 0xa8, 0));
    p.save();
    p.setClipPath(shape);
    p.translate(box.center());
    p.scale(1, box.height() / box.width() * 2.2);
    p.translate(-box.center());
    p.fillRect(box.adjusted(-box.width(), -box.width(), box.width(), box.width()), sheen);
    p.restore();
    fillGrain(p, shape, seed, 16);
}

// The splash of the first start and the title strip of the self-update window. The white status
// text sits in the middle; the strip's lower part stays clear because the self-update window
// shows its progress frame there.
QImage titleBanner()
{
    QImage img = newImage({520, 70});
    QPainter p(&img);
    setupPainter(p);
    const QRectF body(3, 12, 514, 42);
    const QPainterPath shape = plaqueShape(body, 16);
    drawShadow(p, shape, {0, 2}, QColor(0, 0, 0, 150), 4);
    fillLacquer(p, shape, 0.8, 11);

    p.save();
    p.setClipPath(shape);
    const QColor curl(0x9b, 0xc8, 0xd8, 46);
    drawCloudCurl(p, {62, 36}, 22, curl, false);
    drawCloudCurl(p, {118, 28}, 15, curl, false);
    drawCloudCurl(p, {458, 36}, 22, curl, true);
    drawCloudCurl(p, {402, 28}, 15, curl, true);
    p.restore();

    strokeGold(p, shape, 2.6);
    const QPainterPath inner = plaqueShape(body.adjusted(7, 4, -7, -4), 13);
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 150), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(inner);
    drawDiamond(p, {body.left() + 14, body.center().y()}, 6, Colors::goldLight, Colors::goldDark);
    drawDiamond(p, {body.right() - 14, body.center().y()}, 6, Colors::goldLight, Colors::goldDark);
    // Gilded studs on the top and bottom edges frame the text area.
    for (qreal x : {150.0, 370.0}) {
        drawDiamond(p, {x, body.top()}, 4.5, Colors::goldLight, Colors::goldDark);
        drawDiamond(p, {x, body.bottom()}, 4.5, Colors::goldLight, Colors::goldDark);
    }
    return img;
}

QPainterPath circle(QPointF c, qreal r)
{
    QPainterPath path;
    path.addEllipse(c, r, r);
    return path;
}

QLinearGradient textGold(const QPainterPath &text, qreal brightness = 1.0)
{
    const QRectF box = text.boundingRect();
    return goldGradient(box.top(), box.bottom(), brightness);
}

QLinearGradient textBright(const QPainterPath &text)
{
    const QRectF box = text.boundingRect();
    QLinearGradient g(0, box.top(), 0, box.bottom());
    g.setColorAt(0, Qt::white);
    g.setColorAt(0.55, QColor(0xff, 0xf6, 0xd8));
    g.setColorAt(1, Colors::goldLight.darker(108));
    return g;
}

// Lettering of a button face in each state: gold at rest, lit when hovered, dimmed when pressed.
void letterButton(QPainter &p, const QPainterPath &text, State state, qreal outline = 2.2)
{
    Lettering style;
    style.outline = QColor(0x1a, 0x0e, 0x02);
    style.outlineWidth = outline;
    style.shadowRadius = 2;
    style.shadowOffset = {0, 1.5};
    switch (state) {
    case State::Over:
        style.fill = textBright(text);
        style.glow = QColor(0xff, 0xd2, 0x7a, 150);
        style.glowRadius = 5;
        break;
    case State::Click:
        style.fill = textGold(text, 0.85);
        style.shadow = Qt::transparent;
        break;
    default:
        style.fill = textGold(text);
        break;
    }
    drawLettering(p, text, style);
}

// ---- Long buttons: settings, hardware, apply, re-detect --------------------------------------

QImage plaqueButton(
    QSize size, QRectF plaque, const QString &text, qreal pixelSize, qreal spacing, State state)
{
    if (state == State::Disable)
        return toGrey(plaqueButton(size, plaque, text, pixelSize, spacing, State::Normal), 0.62);
    QImage img = newImage(size);
    QPainter p(&img);
    setupPainter(p);
    const bool over = state == State::Over;
    const bool click = state == State::Click;
    const QRectF r = plaque.translated(0, click ? 1 : 0);
    const qreal point = std::min(14.0, r.height() * 0.32);
    const QPainterPath shape = plaqueShape(r, point);

    if (over)
        drawGlow(p, shape, QColor(0x6f, 0xe6, 0xff, 170), 5, 1);
    else
        drawShadow(p, shape, {0, click ? 1.0 : 2.0}, QColor(0, 0, 0, 180), 3);

    const QColor top = over ? QColor(0x2a, 0x6a, 0x86) : click ? QColor(0x0a, 0x18, 0x28) : Colors::navyLight;
    const QColor bottom = over ? QColor(0x0c, 0x2c, 0x40) : Colors::navyDeep;
    p.fillPath(shape, vertical(r.top(), r.bottom(), top, bottom));
    p.save();
    p.setClipPath(shape);
    if (click) {
        p.setPen(QPen(QColor(0, 0, 0, 150), 6));
        p.drawPath(shape);
    } else {
        QRectF gloss(r.left(), r.top(), r.width(), r.height() * 0.48);
        p.fillRect(gloss,
            vertical(gloss.top(), gloss.bottom(), QColor(255, 255, 255, over ? 46 : 30),
                QColor(255, 255, 255, 4)));
    }
    p.restore();

    strokeGold(p, shape, 2.4, over ? 1.25 : click ? 0.8 : 1.0);
    p.setPen(QPen(over ? QColor(0x9f, 0xf4, 0xff, 170) : QColor(0xe3, 0xb4, 0x58, 120), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(plaqueShape(r.adjusted(5, 4, -5, -4), point - 3));
    const QColor gemLight = over ? QColor(0xc8, 0xff, 0xff) : Colors::goldLight;
    const QColor gemDark = over ? Colors::jadeDeep : Colors::goldDark;
    drawDiamond(p, {r.left() + 11, r.center().y()}, 3.2, gemLight, gemDark);
    drawDiamond(p, {r.right() - 11, r.center().y()}, 3.2, gemLight, gemDark);

    const QRectF textBox = r.adjusted(16, 0, -16, 0);
    letterButton(p, textPath(text, serif(pixelSize), textBox, Qt::AlignCenter, spacing), state);
    return img;
}

QImage launcherToolButton(const QString &text, State state)
{
    // The form gives these buttons 145x53 with a 136x44 face.
    return plaqueButton({145, 53}, QRectF(4.5, 4.5, 136, 44), text, 21, 2, state);
}

// ---- Round emblems: start, update, close, minimise ---------------------------------------------

struct EmblemStyle
{
    QColor discLight;
    QColor discMid;
    QColor discDark;
    QColor halo;
    qreal ring;
    int studs;
};

using EmblemFace = std::function<void(QPainter &, QPointF centre, qreal radius, State)>;

QImage emblem(
    QSize size, QPointF centre, qreal radius, const EmblemStyle &style, const EmblemFace &face, State state)
{
    if (state == State::Disable)
        return toGrey(emblem(size, centre, radius, style, face, State::Normal), 0.6);
    QImage img = newImage(size);
    QPainter p(&img);
    setupPainter(p);
    const bool over = state == State::Over;
    const bool click = state == State::Click;
    const QPointF c = centre + QPointF(0, click ? 1.5 : 0);
    const qreal discR = radius - style.ring;

    if (over)
        drawGlow(p, circle(c, radius), style.halo, std::max(3, int(radius * 0.09)), 1);
    else
        drawShadow(p, circle(c, radius), {0, click ? 1.0 : radius * 0.04 + 1}, QColor(0, 0, 0, 190),
            std::max(2, int(radius * 0.06)));

    // Gold ring, lit from above, with a dark seam on both sides.
    p.setPen(Qt::NoPen);
    p.setBrush(goldGradient(c.y() - radius, c.y() + radius, over ? 1.2 : click ? 0.8 : 1.0));
    p.drawPath(circle(c, radius));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x2a, 0x18, 0x04, 220), std::max(1.0, radius * 0.012)));
    p.drawPath(circle(c, radius - 0.5));
    p.setPen(QPen(QColor(0x2a, 0x18, 0x04, 230), std::max(1.0, style.ring * 0.18)));
    p.drawPath(circle(c, discR + 0.5));
    for (int i = 0; i < style.studs; ++i) {
        const qreal a = M_PI * 2 * i / style.studs - M_PI / 2;
        const QPointF at = c + QPointF(std::cos(a), std::sin(a)) * (radius - style.ring / 2);
        drawDiamond(p, at, style.ring * 0.42, Colors::goldLight, QColor(0x6a, 0x44, 0x10));
    }

    const qreal light = over ? 1.25 : click ? 0.78 : 1.0;
    auto shade = [light](const QColor &col) {
        return light >= 1 ? col.lighter(int(100 * light)) : col.darker(int(100 / light));
    };
    QRadialGradient disc(c + QPointF(-discR * 0.25, -discR * 0.45), discR * 1.45);
    disc.setColorAt(0, shade(style.discLight));
    disc.setColorAt(0.45, shade(style.discMid));
    disc.setColorAt(1, shade(style.discDark));
    const QPainterPath discPath = circle(c, discR);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawPath(discPath);

    p.save();
    p.setClipPath(discPath);
    if (discR > 30) {
        const QColor curl(255, 230, 190, 34);
        drawCloudCurl(p, c + QPointF(-discR * 0.55, discR * 0.5), discR * 0.32, curl, false);
        drawCloudCurl(p, c + QPointF(discR * 0.55, discR * 0.5), discR * 0.32, curl, true);
    }
    // Inner rim shadow gives the disc depth; pressed, it deepens.
    p.setPen(QPen(QColor(0, 0, 0, click ? 170 : 110), discR * (click ? 0.16 : 0.08)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(discPath);
    if (!click) {
        QPainterPath gloss;
        gloss.addEllipse(QRectF(c.x() - discR * 0.72, c.y() - discR * 0.94, discR * 1.44, discR * 0.86));
        p.setPen(Qt::NoPen);
        p.setBrush(vertical(c.y() - discR * 0.94, c.y() - discR * 0.08, QColor(255, 255, 255, over ? 90 : 64),
            QColor(255, 255, 255, 0)));
        p.drawPath(gloss);
    }
    p.restore();

    face(p, c, discR, state);
    return img;
}

const EmblemStyle startStyle {QColor(0xff, 0x9a, 0x5a), QColor(0xb8, 0x2a, 0x18), QColor(0x3c, 0x06, 0x04),
    QColor(0xff, 0xc0, 0x5a, 200), 13, 8};
const EmblemStyle updateStyle {QColor(0x8c, 0xf2, 0xe0), QColor(0x14, 0x86, 0x86), QColor(0x03, 0x2c, 0x34),
    QColor(0x8c, 0xff, 0xf0, 200), 9, 4};
const EmblemStyle windowButtonStyle {QColor(0x3a, 0x6e, 0x98), QColor(0x12, 0x2a, 0x46),
    QColor(0x05, 0x0c, 0x18), QColor(0x8c, 0xe8, 0xff, 200), 3.5, 0};
const EmblemStyle closeOverStyle {QColor(0xff, 0x8a, 0x6a), QColor(0xb0, 0x24, 0x16),
    QColor(0x40, 0x06, 0x04), QColor(0xff, 0x90, 0x70, 210), 3.5, 0};

QImage startButton(State state)
{
    auto face = [](QPainter &p, QPointF c, qreal r, State s) {
        const QFont font = serif(r * 0.5);
        QPainterPath text = textPath(QStringLiteral("開始"), font,
            QRectF(c.x() - r, c.y() - r * 0.62, 2 * r, r * 0.6), Qt::AlignCenter, 4);
        text.addPath(textPath(QStringLiteral("遊戲"), font,
            QRectF(c.x() - r, c.y() + 0.02 * r, 2 * r, r * 0.6), Qt::AlignCenter, 4));
        letterButton(p, text, s, 3);
    };
    return emblem({252, 213}, {126, 106.5}, 95, startStyle, face, state);
}

// Two arcs chasing each other: the refresh sign behind the update text.
QPainterPath refreshSign(QPointF c, qreal r)
{
    QPainterPath path;
    for (int half = 0; half < 2; ++half) {
        const qreal start = half * 180 + 20;
        QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
        path.arcMoveTo(box, start);
        path.arcTo(box, start, 130);
        const qreal end = (start + 130) * M_PI / 180;
        const QPointF tip(c.x() + r * std::cos(end), c.y() - r * std::sin(end));
        const QPointF along(-std::sin(end), -std::cos(end)); // direction of travel
        const QPointF out(std::cos(end), -std::sin(end));
        path.moveTo(tip + along * r * 0.28);
        path.lineTo(tip + out * r * 0.2);
        path.moveTo(tip + along * r * 0.28);
        path.lineTo(tip - out * r * 0.2);
    }
    return path;
}

QImage updateButton(State state)
{
    auto face = [](QPainter &p, QPointF c, qreal r, State s) {
        p.save();
        p.setPen(QPen(QColor(0xd8, 0xff, 0xf6, s == State::Over ? 90 : 60), r * 0.09, Qt::SolidLine,
            Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(refreshSign(c, r * 0.72));
        p.restore();
        letterButton(p,
            textPath(QStringLiteral("更新"), serif(r * 0.56), QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r),
                Qt::AlignCenter, 3),
            s, 2.6);
    };
    return emblem({145, 133}, {72.5, 66.5}, 57, updateStyle, face, state);
}

// A glyph stroked in gold over a dark outline, as on the small window buttons.
void drawGlyph(QPainter &p, const QPainterPath &glyph, qreal width, State state)
{
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x14, 0x0a, 0x02, 230), width + 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(glyph);
    const QRectF box = glyph.boundingRect().adjusted(-width, -width, width, width);
    const QBrush fill = state == State::Over
        ? QBrush(QColor(0xff, 0xfa, 0xea))
        : QBrush(goldGradient(box.top(), box.bottom(), state == State::Click ? 0.85 : 1.1));
    p.setPen(QPen(fill, width, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(glyph);
    p.restore();
}

QImage windowButton(QSize size, bool close, State state)
{
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    const qreal radius = size.width() / 2.0 - 3;
    const qreal scale = size.width() / 51.0;
    EmblemStyle style = close && state == State::Over ? closeOverStyle : windowButtonStyle;
    if (!close && state == State::Over) {
        style.discLight = QColor(0x7a, 0xe6, 0xe0);
        style.discMid = QColor(0x14, 0x78, 0x84);
        style.discDark = QColor(0x03, 0x24, 0x30);
    }
    style.ring *= scale;
    auto face = [close, scale](QPainter &p, QPointF c, qreal r, State s) {
        QPainterPath glyph;
        const qreal k = r * 0.42;
        if (close) {
            glyph.moveTo(c + QPointF(-k, -k));
            glyph.lineTo(c + QPointF(k, k));
            glyph.moveTo(c + QPointF(k, -k));
            glyph.lineTo(c + QPointF(-k, k));
        } else {
            glyph.moveTo(c + QPointF(-k * 1.1, k * 0.15));
            glyph.lineTo(c + QPointF(k * 1.1, k * 0.15));
        }
        drawGlyph(p, glyph, 3.2 * scale, s);
    };
    return emblem(size, centre, radius, style, face, state);
}

// ---- Progress bars ------------------------------------------------------------------------------

const QSize barSize(479, 18);

// The groove the bar runs in, seen through the frame.
QImage progressTrack()
{
    QImage img = newImage(barSize);
    QPainter p(&img);
    setupPainter(p);
    const QRectF r(0, 0, barSize.width(), barSize.height());
    p.fillRect(r, vertical(0, r.height(), QColor(0x02, 0x06, 0x0c), QColor(0x10, 0x20, 0x32)));
    p.fillRect(QRectF(0, 0, r.width(), 4), vertical(0, 4, QColor(0, 0, 0, 160), QColor(0, 0, 0, 0)));
    p.setPen(QPen(QColor(0x6a, 0x8c, 0xaa, 40), 1));
    for (int i = 1; i < 10; ++i) {
        const qreal x = std::round(r.width() * i / 10.0) + 0.5;
        p.drawLine(QPointF(x, 5), QPointF(x, r.height() - 3));
    }
    return img;
}

// The chunk image: only its left part shows, as wide as the progress.
QImage progressChunk(const QColor &light, const QColor &mid, const QColor &dark, std::uint32_t seed)
{
    QImage img = newImage(barSize);
    QPainter p(&img);
    setupPainter(p);
    const qreal h = barSize.height();
    QLinearGradient g(0, 0, 0, h);
    // Light only along the top edge: the bar's white text runs over the middle.
    g.setColorAt(0, light);
    g.setColorAt(0.18, mix(light, mid, 0.6));
    g.setColorAt(0.45, mid);
    g.setColorAt(1, dark);
    p.fillRect(img.rect(), g);
    // Slanted bands suggest motion without fighting the white percentage text.
    p.save();
    p.setClipRect(img.rect());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 18));
    for (qreal x = -h; x < barSize.width() + h; x += 16) {
        QPolygonF band;
        band << QPointF(x, h) << QPointF(x + 7, h) << QPointF(x + 7 + h * 0.6, 0) << QPointF(x + h * 0.6, 0);
        p.drawPolygon(band);
    }
    p.restore();
    p.fillRect(QRectF(0, 1, barSize.width(), 1.5), QColor(255, 255, 255, 90));
    p.fillRect(QRectF(0, h - 2, barSize.width(), 2), QColor(0, 0, 0, 90));
    Noise noise(seed);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 70; ++i) {
        const QPointF at(noise.uniform() * barSize.width(), 3 + noise.uniform() * (h - 7));
        p.setBrush(QColor(255, 255, 255, 30 + int(noise.uniform() * 60)));
        p.drawEllipse(at, 0.9, 0.9);
    }
    return img;
}

// The gilt frame over a bar: transparent middle exactly where the bar lies (20, 10, 479, 18),
// clear above and below so that the two stacked bars of the launcher do not hide each other.
QImage progressFrame()
{
    QImage img = newImage({517, 49});
    QPainter p(&img);
    setupPainter(p);
    const QRectF hole(20, 10, 479, 18);
    const QRectF outer = hole.adjusted(-6, -5, 6, 5);
    QPainterPath ring;
    ring.addRoundedRect(outer, 5, 5);
    QPainterPath holePath;
    holePath.addRect(hole);
    ring = ring.subtracted(holePath);
    drawShadow(p, ring, {0, 1.5}, QColor(0, 0, 0, 160), 2);
    p.setPen(QPen(QColor(0x2a, 0x18, 0x04, 220), 0.8));
    p.setBrush(goldGradient(outer.top(), outer.bottom()));
    p.drawPath(ring);
    p.setPen(QPen(QColor(0x1a, 0x0e, 0x02, 200), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(hole.adjusted(-0.5, -0.5, 0.5, 0.5));

    // End caps: a jewel in a gold lozenge at each end.
    for (bool left : {true, false}) {
        const QPointF c(left ? 10.5 : 506.5, hole.center().y());
        QPainterPath cap;
        cap.moveTo(c.x(), c.y() - 15);
        cap.lineTo(c.x() + 10, c.y());
        cap.lineTo(c.x(), c.y() + 15);
        cap.lineTo(c.x() - 10, c.y());
        cap.closeSubpath();
        drawShadow(p, cap, {0, 1.5}, QColor(0, 0, 0, 150), 2);
        p.setPen(QPen(QColor(0x2a, 0x18, 0x04, 230), 1));
        p.setBrush(goldGradient(c.y() - 15, c.y() + 15, 1.05));
        p.drawPath(cap);
        QRadialGradient gem(c + QPointF(-1.5, -2), 7);
        gem.setColorAt(0, QColor(0xb8, 0xff, 0xf4));
        gem.setColorAt(0.5, QColor(0x1c, 0xa0, 0xa0));
        gem.setColorAt(1, QColor(0x04, 0x34, 0x3c));
        p.setBrush(gem);
        p.setPen(QPen(QColor(0x1a, 0x0e, 0x02), 0.8));
        p.drawEllipse(c, 4.5, 4.5);
    }
    return img;
}

// ---- Launcher window --------------------------------------------------------------------------

QPainterPath feather(qreal length, qreal width)
{
    QPainterPath f;
    f.moveTo(0, 0);
    f.cubicTo(length * 0.3, -width * 0.95, length * 0.78, -width * 0.7, length, 0);
    f.cubicTo(length * 0.7, width * 0.32, length * 0.3, width * 0.5, 0, 0);
    return f;
}

// Falcon wings spreading from behind the title crest.
void drawWing(QPainter &p, QPointF root, bool left)
{
    const int count = 7;
    for (int i = count - 1; i >= 0; --i) {
        const qreal length = 318 - i * 30;
        const qreal angle = 5 + i * 6.5;
        QTransform t;
        t.translate(root.x(), root.y());
        if (left)
            t.scale(-1, 1);
        t.rotate(-angle);
        const QPainterPath f = t.map(feather(length, 26));
        drawShadow(p, f, {0, 3}, QColor(0, 0, 0, 120), 4);
        const QRectF box = f.boundingRect();
        QLinearGradient g(left ? box.right() : box.left(), 0, left ? box.left() : box.right(), 0);
        g.setColorAt(0, Colors::navyLight);
        g.setColorAt(0.7, Colors::navy);
        g.setColorAt(1, QColor(0x0a, 0x16, 0x28, 200));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawPath(f);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QBrush(goldGradient(box.top(), box.bottom(), 0.95)), 1.6));
        p.drawPath(f);
        QPainterPath quill;
        quill.moveTo(t.map(QPointF(8, 0)));
        quill.lineTo(t.map(QPointF(length * 0.82, -1)));
        p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 110), 1));
        p.drawPath(quill);
    }
}

QPainterPath crestShape()
{
    QPainterPath crest;
    crest.moveTo(258, 222);
    crest.cubicTo(258, 122, 360, 40, 512, 40);
    crest.cubicTo(664, 40, 766, 122, 766, 222);
    crest.closeSubpath();
    return crest;
}

QImage launcherBackground()
{
    QImage img = newImage({1024, 710});
    QPainter p(&img);
    setupPainter(p);

    drawWing(p, {330, 168}, true);
    drawWing(p, {694, 168}, false);

    // Main panel: everything below the crest.
    const QRectF panel(60, 196, 904, 482);
    QPainterPath panelPath;
    panelPath.addRoundedRect(panel, 16, 16);
    drawShadow(p, panelPath, {0, 5}, QColor(0, 0, 0, 170), 8);
    p.fillPath(
        panelPath, vertical(panel.top(), panel.bottom(), QColor(0x14, 0x2b, 0x46), QColor(0x07, 0x10, 0x1c)));
    p.save();
    p.setClipPath(panelPath);
    QRadialGradient mist(QPointF(512, 250), 520);
    mist.setColorAt(0, QColor(0x3a, 0x8c, 0xa8, 60));
    mist.setColorAt(1, QColor(0x3a, 0x8c, 0xa8, 0));
    p.fillRect(panel, mist);
    const QColor curl(0x9b, 0xc8, 0xd8, 30);
    drawCloudCurl(p, {86, 330}, 26, curl, false);
    drawCloudCurl(p, {86, 470}, 20, curl, false);
    drawCloudCurl(p, {86, 600}, 26, curl, false);
    drawCloudCurl(p, {900, 470}, 26, curl, true);
    drawCloudCurl(p, {120, 238}, 24, curl, false);
    p.restore();
    fillGrain(p, panelPath, 23, 14);
    strokeGold(p, panelPath, 3.4);
    QPainterPath innerLine;
    innerLine.addRoundedRect(panel.adjusted(7, 7, -7, -7), 11, 11);
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 110), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(innerLine);
    for (const QPointF &corner :
        {panel.topLeft(), panel.topRight(), panel.bottomLeft(), panel.bottomRight()}) {
        const QPointF c = corner + QPointF(corner.x() < 512 ? 10 : -10, corner.y() < 400 ? 10 : -10);
        drawDiamond(p, c, 9, Colors::goldLight, Colors::goldDark);
    }

    // Recess for the web page (120, 290, 711, 371).
    const QRectF recess(112, 283, 727, 386);
    p.fillRect(recess, Colors::navyDeep);
    strokeGold(
        p,
        [&] {
            QPainterPath r;
            r.addRect(recess.adjusted(1.5, 1.5, -1.5, -1.5));
            return r;
        }(),
        3);

    // Socket for the close and minimise buttons (865, 300) and (865, 353), 51x51 each.
    QPainterPath socket;
    socket.addRoundedRect(QRectF(857, 293, 67, 118), 10, 10);
    p.fillPath(socket, QColor(0x03, 0x08, 0x10, 200));
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 150), 1.2));
    p.drawPath(socket);

    // Parchment plate behind the version label (690, 238, 151, 41): its text is the default
    // black, bottom-aligned, so the plate is light where the text runs.
    const QRectF plate(684, 234, 164, 47);
    const QPainterPath platePath = plaqueShape(plate, 12);
    drawShadow(p, platePath, {0, 2}, QColor(0, 0, 0, 170), 3);
    p.fillPath(platePath, vertical(plate.top(), plate.bottom(), Colors::parchment, Colors::parchmentDark));
    fillGrain(p, platePath, 31, 10);
    strokeGold(p, platePath, 2.4);
    drawDiamond(p, {plate.left() + 9, plate.center().y()}, 3.2, Colors::goldLight, Colors::goldDark);
    drawDiamond(p, {plate.right() - 9, plate.center().y()}, 3.2, Colors::goldLight, Colors::goldDark);

    // Title crest.
    const QPainterPath crest = crestShape();
    drawShadow(p, crest, {0, 4}, QColor(0, 0, 0, 180), 7);
    p.fillPath(crest, vertical(40, 222, QColor(0x1c, 0x3c, 0x5e), QColor(0x08, 0x14, 0x24)));
    p.save();
    p.setClipPath(crest);
    QRadialGradient aura(QPointF(512, 130), 230);
    aura.setColorAt(0, QColor(0x5a, 0xc8, 0xd8, 80));
    aura.setColorAt(1, QColor(0x5a, 0xc8, 0xd8, 0));
    p.fillRect(crest.boundingRect(), aura);
    drawCloudCurl(p, {330, 196}, 24, QColor(0x9b, 0xc8, 0xd8, 40), false);
    drawCloudCurl(p, {694, 196}, 24, QColor(0x9b, 0xc8, 0xd8, 40), true);
    p.restore();
    fillGrain(p, crest, 41, 14);
    strokeGold(p, crest, 4);
    QPainterPath crestInner;
    crestInner.moveTo(268, 214);
    crestInner.cubicTo(268, 128, 366, 50, 512, 50);
    crestInner.cubicTo(658, 50, 756, 128, 756, 214);
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 130), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(crestInner);
    drawDiamond(p, {512, 40}, 13, Colors::goldLight, Colors::goldDark);
    QRadialGradient jewel(QPointF(510, 37), 8);
    jewel.setColorAt(0, QColor(0xc8, 0xff, 0xf4));
    jewel.setColorAt(0.6, QColor(0x1c, 0xa0, 0xa0));
    jewel.setColorAt(1, QColor(0x04, 0x34, 0x3c));
    p.setBrush(jewel);
    p.setPen(QPen(QColor(0x1a, 0x0e, 0x02), 1));
    p.drawEllipse(QPointF(512, 40), 5.5, 5.5);

    const QPainterPath title
        = textPath(QStringLiteral("雲隼紀年"), serif(82), QRectF(262, 82, 500, 104), Qt::AlignCenter, 10);
    Lettering titleStyle;
    titleStyle.fill = textGold(title, 1.05);
    titleStyle.outline = QColor(0x1a, 0x0c, 0x00);
    titleStyle.outlineWidth = 3.5;
    titleStyle.shadowOffset = {0, 4};
    titleStyle.shadowRadius = 5;
    titleStyle.glow = QColor(0x7f, 0xe8, 0xff, 90);
    titleStyle.glowRadius = 10;
    drawLettering(p, title, titleStyle);
    // A gilt rule with a jewel under the title.
    const qreal ruleY = 200;
    QLinearGradient rule(392, 0, 632, 0);
    rule.setColorAt(0, QColor(0xe3, 0xb4, 0x58, 0));
    rule.setColorAt(0.5, QColor(0xff, 0xe6, 0xa8, 230));
    rule.setColorAt(1, QColor(0xe3, 0xb4, 0x58, 0));
    p.fillRect(QRectF(392, ruleY - 0.75, 240, 1.5), rule);
    drawDiamond(p, {512, ruleY}, 5, Colors::goldLight, Colors::goldDark);
    return img;
}

// Advice shown under the progress bars.
QImage remindLabel()
{
    QImage img = newImage({557, 37});
    QPainter p(&img);
    setupPainter(p);
    const QRectF ribbon(6, 6, 545, 26);
    const QPainterPath shape = plaqueShape(ribbon, 12);
    drawShadow(p, shape, {0, 2}, QColor(0, 0, 0, 150), 3);
    p.fillPath(shape,
        vertical(
            ribbon.top(), ribbon.bottom(), QColor(0x12, 0x26, 0x3e, 235), QColor(0x05, 0x0c, 0x18, 235)));
    strokeGold(p, shape, 1.6, 0.95);
    drawDiamond(p, {ribbon.left() + 10, ribbon.center().y()}, 3, Colors::goldLight, Colors::goldDark);
    drawDiamond(p, {ribbon.right() - 10, ribbon.center().y()}, 3, Colors::goldLight, Colors::goldDark);
    const QRectF textBox = ribbon.adjusted(22, 0, -22, 0);
    QPainterPath head = textPath(
        QStringLiteral("健康遊戲忠告"), sans(13, QFont::Bold), textBox, Qt::AlignLeft | Qt::AlignVCenter);
    const qreal headEnd = head.boundingRect().right() + 12;
    const QPainterPath body
        = textPath(QStringLiteral("適度遊戲益腦，沉迷遊戲傷身；合理安排時間，享受健康生活。"), sans(13),
            QRectF(headEnd, ribbon.top(), textBox.right() - headEnd, ribbon.height()), Qt::AlignCenter);
    p.setPen(Qt::NoPen);
    p.setBrush(textGold(head, 1.1));
    p.drawPath(head);
    p.setBrush(QColor(0xe8, 0xe0, 0xcc));
    p.drawPath(body);
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 150), 1));
    p.drawLine(QPointF(headEnd - 6, ribbon.top() + 7), QPointF(headEnd - 6, ribbon.bottom() - 7));
    return img;
}

// ---- Settings dialog --------------------------------------------------------------------------

QImage settingsBackground()
{
    // 550 wide, of which the dialog shows 500: the rest stays clear.
    QImage img = newImage({550, 450});
    QPainter p(&img);
    setupPainter(p);
    const QRectF panel(4, 4, 492, 440);
    QPainterPath shape;
    shape.addRoundedRect(panel, 14, 14);
    p.fillPath(
        shape, vertical(panel.top(), panel.bottom(), QColor(0x16, 0x2e, 0x4a), QColor(0x06, 0x0e, 0x1a)));
    p.save();
    p.setClipPath(shape);
    QRadialGradient mist(QPointF(250, 90), 330);
    mist.setColorAt(0, QColor(0x3a, 0x8c, 0xa8, 70));
    mist.setColorAt(1, QColor(0x3a, 0x8c, 0xa8, 0));
    p.fillRect(panel, mist);
    const QColor curl(0x9b, 0xc8, 0xd8, 32);
    drawCloudCurl(p, {40, 400}, 24, curl, false);
    drawCloudCurl(p, {460, 400}, 24, curl, true);
    p.restore();
    fillGrain(p, shape, 53, 14);
    strokeGold(p, shape, 3.2);
    QPainterPath inner;
    inner.addRoundedRect(panel.adjusted(7, 7, -7, -7), 9, 9);
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 110), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(inner);
    for (const QPointF &corner : {panel.bottomLeft(), panel.bottomRight(), panel.topLeft()}) {
        const QPointF c = corner + QPointF(corner.x() < 250 ? 9 : -9, corner.y() < 200 ? 9 : -9);
        drawDiamond(p, c, 8, Colors::goldLight, Colors::goldDark);
    }

    // Title, clear of the close button at (430, 10).
    const QPainterPath title = textPath(
        QStringLiteral("遊戲設置"), serif(30), QRectF(34, 22, 300, 40), Qt::AlignLeft | Qt::AlignVCenter, 6);
    Lettering style;
    style.fill = textGold(title, 1.05);
    style.outline = QColor(0x1a, 0x0c, 0x00);
    style.outlineWidth = 2.6;
    style.glow = QColor(0x7f, 0xe8, 0xff, 70);
    style.glowRadius = 6;
    drawLettering(p, title, style);
    QLinearGradient rule(30, 0, 420, 0);
    rule.setColorAt(0, QColor(0xff, 0xe6, 0xa8, 230));
    rule.setColorAt(1, QColor(0xe3, 0xb4, 0x58, 0));
    p.fillRect(QRectF(30, 74, 390, 1.5), rule);
    drawDiamond(p, {30, 74.75}, 4.5, Colors::goldLight, Colors::goldDark);

    // Inset behind the rows of options.
    QPainterPath inset;
    inset.addRoundedRect(QRectF(40, 120, 420, 195), 8, 8);
    p.fillPath(inset, QColor(0x02, 0x07, 0x10, 150));
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 90), 1));
    p.drawPath(inset);
    return img;
}

// Row captions and option names. The picture lies at (80, 70) of the dialog; the check boxes
// show their indicators at x 190/280/370 with the box 26 wide, rows centred on y 225 and 295,
// and the resolution button spans y 140 to 179.
QImage settingsTextLabel()
{
    QImage img = newImage({350, 240});
    QPainter p(&img);
    setupPainter(p);
    const QPointF origin(80, 70);
    auto rowCaption = [&](const QString &text, qreal dialogCentreY) {
        const QPainterPath path
            = textPath(text, serif(19), QRectF(QPointF(92, dialogCentreY - 15) - origin, QSizeF(90, 30)),
                Qt::AlignLeft | Qt::AlignVCenter, 1);
        Lettering style;
        style.fill = textGold(path, 1.05);
        style.outline = QColor(0x1a, 0x0c, 0x00);
        style.outlineWidth = 1.8;
        style.shadowRadius = 2;
        drawLettering(p, path, style);
    };
    auto option = [&](const QString &text, qreal boxX, qreal dialogCentreY) {
        const QPainterPath path = textPath(text, sans(18, QFont::Bold),
            QRectF(QPointF(boxX + 30, dialogCentreY - 14) - origin, QSizeF(60, 28)),
            Qt::AlignLeft | Qt::AlignVCenter);
        drawShadow(p, path, {0, 1.5}, QColor(0, 0, 0, 200), 2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf2, 0xea, 0xd6));
        p.drawPath(path);
    };
    rowCaption(QStringLiteral("解析度"), 159.5);
    rowCaption(QStringLiteral("顯示模式"), 225);
    rowCaption(QStringLiteral("畫面品質"), 295);
    option(QStringLiteral("全螢幕"), 190, 225);
    option(QStringLiteral("視窗"), 280, 225);
    option(QStringLiteral("高"), 190, 295);
    option(QStringLiteral("中"), 280, 295);
    option(QStringLiteral("低"), 370, 295);
    // Faint rules between the rows.
    for (qreal y : {192.0, 262.0}) {
        QLinearGradient rule(0, 0, 350, 0);
        rule.setColorAt(0, QColor(0xe3, 0xb4, 0x58, 0));
        rule.setColorAt(0.15, QColor(0xe3, 0xb4, 0x58, 90));
        rule.setColorAt(0.85, QColor(0xe3, 0xb4, 0x58, 90));
        rule.setColorAt(1, QColor(0xe3, 0xb4, 0x58, 0));
        p.fillRect(QRectF(0, y - origin.y(), 350, 1), rule);
    }
    return img;
}

// Indicator of the option boxes, 26x30 as the dialog's style sheet sizes it.
QImage checkBox(bool checked)
{
    QImage img = newImage({26, 30});
    QPainter p(&img);
    setupPainter(p);
    const QRectF box(3, 5, 20, 20);
    QPainterPath shape;
    shape.addRoundedRect(box, 3.5, 3.5);
    drawShadow(p, shape, {0, 1}, QColor(0, 0, 0, 200), 2);
    p.fillPath(shape, vertical(box.top(), box.bottom(), QColor(0x02, 0x06, 0x0c), QColor(0x14, 0x28, 0x40)));
    strokeGold(p, shape, 2.2);
    if (checked) {
        QPainterPath tick;
        tick.moveTo(box.left() + 4, box.center().y() + 0.5);
        tick.lineTo(box.left() + 8.5, box.bottom() - 4.5);
        tick.lineTo(box.right() + 1.5, box.top() - 2.5);
        drawGlow(p, tick, QColor(0x7f, 0xff, 0xe8, 200), 3, 2);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x03, 0x20, 0x1c), 5.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
        p.setPen(QPen(QColor(0xb8, 0xff, 0xee), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
    }
    return img;
}

// The resolution button: white text from the left, a drop-down knob at the right.
QImage comboBox(State state)
{
    QImage img = newImage({251, 39});
    QPainter p(&img);
    setupPainter(p);
    const bool over = state == State::Over;
    const bool click = state == State::Click;
    const QRectF r(1.5, 1.5, 248, 36);
    QPainterPath shape;
    shape.addRoundedRect(r, 6, 6);
    p.fillPath(shape,
        vertical(r.top(), r.bottom(), click ? QColor(0x01, 0x04, 0x08) : QColor(0x03, 0x08, 0x10),
            over ? QColor(0x12, 0x34, 0x4a) : QColor(0x10, 0x22, 0x38)));
    p.save();
    p.setClipPath(shape);
    p.setPen(QPen(QColor(0, 0, 0, 150), 4));
    p.drawLine(QPointF(r.left(), r.top() + 1), QPointF(r.right(), r.top() + 1));
    const QRectF knob(r.right() - 30, r.top(), 30, r.height());
    p.fillRect(knob,
        vertical(knob.top(), knob.bottom(), over ? QColor(0x2a, 0x6a, 0x86) : Colors::navyLight,
            click ? Colors::navyDeep : QColor(0x08, 0x14, 0x24)));
    p.restore();
    strokeGold(p, shape, 2, over ? 1.25 : click ? 0.85 : 1.0);
    const qreal seamX = r.right() - 30;
    p.setPen(QPen(QColor(0xe3, 0xb4, 0x58, 170), 1.2));
    p.drawLine(QPointF(seamX, r.top() + 3), QPointF(seamX, r.bottom() - 3));
    const QPointF c(r.right() - 15, r.center().y() + (click ? 2 : 1));
    QPainterPath arrow;
    arrow.moveTo(c + QPointF(-6.5, -4));
    arrow.lineTo(c + QPointF(6.5, -4));
    arrow.lineTo(c + QPointF(0, 4.5));
    arrow.closeSubpath();
    if (over)
        drawGlow(p, arrow, QColor(0x8c, 0xff, 0xf0, 180), 3, 1);
    p.setPen(QPen(QColor(0x1a, 0x0e, 0x02), 1));
    p.setBrush(over ? QBrush(QColor(0xff, 0xfa, 0xea)) : QBrush(goldGradient(c.y() - 4, c.y() + 5, 1.1)));
    p.drawPath(arrow);
    return img;
}

QString stateSuffix(State state)
{
    switch (state) {
    case State::Normal:
        return QStringLiteral("Normal");
    case State::Over:
        return QStringLiteral("Over");
    case State::Click:
        return QStringLiteral("Click");
    case State::Disable:
        return QStringLiteral("Disable");
    }
    return {};
}

void addStates(QVector<Picture> &list, const QString &prefix, const QVector<State> &states,
    const std::function<QImage(State)> &make)
{
    for (State state : states)
        list.append(
            {prefix + stateSuffix(state) + QStringLiteral(".png"), [make, state] { return make(state); }});
}
} // namespace

QVector<Picture> allPictures()
{
    QVector<Picture> list;
    const QVector<State> all {State::Normal, State::Over, State::Click, State::Disable};
    list.append({QStringLiteral("ui_windows_title2.png"), titleBanner});

    list.append({QStringLiteral("Launcher_bg_lab.png"), launcherBackground});
    list.append({QStringLiteral("Launcher_remind_lab.png"), remindLabel});
    addStates(list, QStringLiteral("Launcher_start_btn_"), all, startButton);
    addStates(list, QStringLiteral("Launcher_update_btn_"), all, updateButton);
    addStates(list, QStringLiteral("Launcher_close_btn_"), all, [](State s) {
        return windowButton({51, 51}, true, s);
    });
    addStates(list, QStringLiteral("Launcher_minimalize_btn_"), all, [](State s) {
        return windowButton({51, 51}, false, s);
    });
    // Hover and pressed share one picture on these two buttons; the form names no others.
    list.append({QStringLiteral("Launcher_settings_btn_Normal2.png"),
        [] { return launcherToolButton(QStringLiteral("遊戲設置"), State::Normal); }});
    list.append({QStringLiteral("Launcher_settings_btn_Over2.png"),
        [] { return launcherToolButton(QStringLiteral("遊戲設置"), State::Over); }});
    list.append({QStringLiteral("Launcher_hardware_btn_Normal2.png"),
        [] { return launcherToolButton(QStringLiteral("硬體資訊"), State::Normal); }});
    list.append({QStringLiteral("Launcher_hardware_btn_Over2.png"),
        [] { return launcherToolButton(QStringLiteral("硬體資訊"), State::Over); }});
    list.append({QStringLiteral("Launcher_progressbar_bottom.png"), progressTrack});
    list.append({QStringLiteral("Launcher_progressbar.png"), [] {
                     return progressChunk(
                         QColor(0x9c, 0xf4, 0xea), QColor(0x0c, 0x78, 0x7c), QColor(0x03, 0x36, 0x40), 61);
                 }});
    list.append({QStringLiteral("Launcher_progressbar_total.png"), [] {
                     return progressChunk(
                         QColor(0xff, 0xe2, 0x96), QColor(0x9c, 0x5c, 0x0c), QColor(0x4a, 0x26, 0x04), 67);
                 }});
    list.append({QStringLiteral("Launcher_progressbar_top.png"), progressFrame});

    list.append({QStringLiteral("settings_bg.png"), settingsBackground});
    list.append({QStringLiteral("settings_text_lab.png"), settingsTextLabel});
    list.append({QStringLiteral("ui_checkbox_n1.png"), [] { return checkBox(false); }});
    list.append({QStringLiteral("ui_checkbox_v1.png"), [] { return checkBox(true); }});
    addStates(list, QStringLiteral("settings_apply_btn_"), all, [](State s) {
        return plaqueButton({119, 48}, QRectF(3.5, 3.5, 112, 40), QStringLiteral("套用"), 21, 8, s);
    });
    // Shown by the re-detection button (135 wide) and the hidden cancel button (119 wide).
    addStates(list, QStringLiteral("settings_return_btn_"), {State::Normal, State::Over, State::Click},
        [](State s) {
            return plaqueButton({135, 48}, QRectF(3.5, 3.5, 128, 40), QStringLiteral("重新偵測"), 19, 1, s);
        });
    addStates(list, QStringLiteral("settings_close_btn_"), all, [](State s) {
        return windowButton({69, 69}, true, s);
    });
    addStates(list, QStringLiteral("combo_"), {State::Normal, State::Over, State::Click}, comboBox);
    return list;
}

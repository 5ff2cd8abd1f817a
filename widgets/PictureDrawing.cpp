#include "PictureDrawing.h"

#include "PictureSet.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QtMath>

namespace PictureDrawing {
namespace {

// A transparent square image with an antialiased painter whose unit is 1/`units` of its side.
class Canvas {
public:
    Canvas(int size, qreal units)
        : image_(size, size, QImage::Format_ARGB32_Premultiplied), painter_() {
        image_.fill(Qt::transparent);
        painter_.begin(&image_);
        painter_.setRenderHint(QPainter::Antialiasing);
        painter_.setRenderHint(QPainter::SmoothPixmapTransform);
        painter_.scale(size / units, size / units);
        pixel_ = units / size;
    }
    QPainter& painter() { return painter_; }
    // The width of one device pixel in drawing units.
    qreal pixel() const { return pixel_; }
    QImage take() {
        painter_.end();
        return image_;
    }

private:
    QImage image_;
    QPainter painter_;
    qreal pixel_ = 1.0;
};

QLinearGradient vertical(qreal top, qreal bottom, const QColor& from, const QColor& to) {
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    return gradient;
}

// Fills a shape with a gradient and rims it with a darker line: the base of every picture.
void fillShape(QPainter& painter, const QPainterPath& shape, const QBrush& fill,
               const QColor& outline, qreal outlineWidth = 1.0) {
    painter.setPen(QPen(outline, outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(fill);
    painter.drawPath(shape);
}

// A soft light on the upper part of a shape, as on glass.
void addGloss(QPainter& painter, const QPainterPath& shape, qreal top, qreal bottom,
              int strength = 110) {
    painter.save();
    painter.setClipPath(shape);
    painter.setPen(Qt::NoPen);
    painter.setBrush(
        vertical(top, bottom, QColor(255, 255, 255, strength), QColor(255, 255, 255, 0)));
    painter.drawRect(QRectF(0, top, 1000, bottom - top));
    painter.restore();
}

QPainterPath strokeOf(const QPainterPath& line, qreal width, Qt::PenCapStyle cap = Qt::RoundCap) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(line).simplified();
}

// A triangular arrowhead whose tip lies `length` ahead of `base` in `direction`.
QPainterPath arrowHead(QPointF base, QPointF direction, qreal length, qreal halfWidth) {
    const qreal norm = qSqrt(direction.x() * direction.x() + direction.y() * direction.y());
    const QPointF along = direction / norm;
    const QPointF across(-along.y(), along.x());
    QPainterPath head;
    head.moveTo(base + along * length);
    head.lineTo(base + across * halfWidth);
    head.lineTo(base - across * halfWidth);
    head.closeSubpath();
    return head;
}

// ---- The button pictures, drawn on a 16-unit grid. ----

const QColor kNearWhite(250, 252, 255);

void drawInformation(QPainter& p) {
    QPainterPath bubble;
    bubble.addEllipse(QRectF(1.5, 1.0, 13.0, 11.5));
    QPainterPath tail;
    tail.moveTo(4.0, 10.0);
    tail.lineTo(2.5, 15.0);
    tail.lineTo(8.0, 12.0);
    tail.closeSubpath();
    bubble = bubble.united(tail).simplified();
    QRadialGradient body(QPointF(6.5, 4.0), 11.0);
    body.setColorAt(0.0, QColor(0x8C, 0xC8, 0xFA));
    body.setColorAt(0.55, QColor(0x35, 0x86, 0xDC));
    body.setColorAt(1.0, QColor(0x17, 0x55, 0xA8));
    fillShape(p, bubble, body, QColor(0x11, 0x45, 0x88));
    addGloss(p, bubble, 1.0, 7.0, 120);
    p.setPen(Qt::NoPen);
    p.setBrush(kNearWhite);
    p.drawEllipse(QPointF(8.0, 4.2), 1.25, 1.25);
    p.drawRoundedRect(QRectF(6.9, 6.1, 2.2, 4.9), 0.6, 0.6);
}

// A closed outline through the middles of the given corners, rounded at each corner.
QPainterPath smoothOutline(const QList<QPointF>& corners) {
    QPainterPath outline;
    const int n = corners.size();
    const auto middle = [&](int i) { return (corners[i % n] + corners[(i + 1) % n]) / 2; };
    outline.moveTo(middle(0));
    for (int i = 1; i <= n; ++i)
        outline.quadTo(corners[i % n], middle(i));
    outline.closeSubpath();
    return outline;
}

void drawGlobe(QPainter& p) {
    QPainterPath sphere;
    sphere.addEllipse(QPointF(8.0, 8.0), 6.8, 6.8);
    QRadialGradient ocean(QPointF(5.8, 5.2), 10.0);
    ocean.setColorAt(0.0, QColor(0x9F, 0xDA, 0xFF));
    ocean.setColorAt(0.5, QColor(0x3B, 0x93, 0xE0));
    ocean.setColorAt(1.0, QColor(0x18, 0x5A, 0xA8));
    fillShape(p, sphere, ocean, QColor(0x14, 0x4C, 0x8E));

    p.save();
    p.setClipPath(sphere);
    QPainterPath land = smoothOutline({{4.4, 3.4},
                                       {6.2, 3.2},
                                       {6.6, 4.6},
                                       {5.6, 5.8},
                                       {6.0, 7.2},
                                       {5.4, 8.2},
                                       {6.2, 9.8},
                                       {5.6, 12.0},
                                       {4.8, 12.6},
                                       {4.6, 10.8},
                                       {4.0, 9.4},
                                       {3.2, 8.0},
                                       {3.0, 6.4},
                                       {3.4, 4.8}});
    land.addPath(smoothOutline({{10.0, 3.0},
                                {12.0, 3.0},
                                {13.2, 4.4},
                                {12.6, 5.6},
                                {11.6, 5.4},
                                {11.4, 6.6},
                                {12.4, 8.0},
                                {11.8, 10.4},
                                {10.8, 11.4},
                                {10.2, 10.0},
                                {9.8, 8.2},
                                {10.2, 6.8},
                                {9.6, 5.4}}));
    p.setPen(QPen(QColor(0x2F, 0x7A, 0x1E), 0.6));
    p.setBrush(vertical(2.0, 14.0, QColor(0x86, 0xD1, 0x55), QColor(0x3D, 0x92, 0x28)));
    p.drawPath(land);
    // Meridian and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(235, 245, 255, 70), 0.5));
    p.drawEllipse(QPointF(8.0, 8.0), 3.4, 6.8);
    p.drawLine(QPointF(1.0, 8.0), QPointF(15.0, 8.0));
    p.restore();
    addGloss(p, sphere, 1.2, 7.5, 130);
}

void drawCurvedArrow(QPainter& p) {
    QPainterPath curve;
    curve.moveTo(3.2, 14.2);
    curve.cubicTo(2.6, 9.0, 4.5, 5.0, 10.0, 5.2);
    QPainterPath arrow = strokeOf(curve, 3.0, Qt::FlatCap)
                             .united(arrowHead(QPointF(9.6, 5.2), QPointF(1, 0.05), 5.4, 4.4))
                             .simplified();
    fillShape(p, arrow, vertical(0.5, 15.0, QColor(0x8B, 0xD8, 0x5C), QColor(0x2C, 0x8A, 0x22)),
              QColor(0x1F, 0x64, 0x18), 0.9);
    addGloss(p, arrow, 0.5, 6.5, 120);
}

// A round arc of the refresh symbol with its arrowhead, between two angles (degrees,
// counter-clockwise from three o'clock).
QPainterPath circlingArc(qreal startAngle, qreal sweep) {
    const QPointF centre(8.0, 8.0);
    const qreal radius = 5.2;
    QPainterPath arc;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(circle, startAngle);
    arc.arcTo(circle, startAngle, sweep);
    const qreal end = qDegreesToRadians(startAngle + sweep);
    const QPointF tip(centre.x() + radius * qCos(end), centre.y() - radius * qSin(end));
    const QPointF direction(-qSin(end), -qCos(end));
    return strokeOf(arc, 2.3, Qt::FlatCap)
        .united(arrowHead(tip - direction * 0.4, direction, 3.6, 3.3))
        .simplified();
}

void drawCirclingArrows(QPainter& p) {
    const QPainterPath arrows = circlingArc(35, 125).united(circlingArc(215, 125)).simplified();
    fillShape(p, arrows, vertical(1.0, 15.0, QColor(0x86, 0xD6, 0x58), QColor(0x2A, 0x86, 0x20)),
              QColor(0x1E, 0x60, 0x16), 0.9);
    addGloss(p, arrows, 1.0, 7.0, 100);
}

// A manila folder within `box` (its tab at the upper left).
void drawFolder(QPainter& p, const QRectF& box) {
    const qreal l = box.left(), t = box.top(), r = box.right(), b = box.bottom();
    const qreal w = box.width();
    QPainterPath back;
    back.moveTo(l, t + 0.8);
    back.quadTo(l, t, l + 0.8, t);
    back.lineTo(l + w * 0.36, t);
    back.lineTo(l + w * 0.46, t + 1.5);
    back.lineTo(r - 0.6, t + 1.5);
    back.quadTo(r, t + 1.5, r, t + 2.1);
    back.lineTo(r, b);
    back.lineTo(l, b);
    back.closeSubpath();
    fillShape(p, back, vertical(t, b, QColor(0xE9, 0xB9, 0x4C), QColor(0xC9, 0x8E, 0x22)),
              QColor(0x9C, 0x6A, 0x14), 0.9);
    QPainterPath front;
    front.moveTo(l + 0.9, t + 3.6);
    front.lineTo(r + 0.4, t + 3.6);
    front.lineTo(r, b);
    front.lineTo(l, b);
    front.closeSubpath();
    fillShape(p, front, vertical(t + 3.6, b, QColor(0xFF, 0xE7, 0x98), QColor(0xF2, 0xBE, 0x48)),
              QColor(0xA8, 0x74, 0x18), 0.9);
}

void drawFolderArrow(QPainter& p) {
    drawFolder(p, QRectF(0.7, 3.2, 12.0, 10.8));
    QPainterPath shaft;
    shaft.moveTo(7.2, 12.0);
    shaft.cubicTo(7.4, 8.0, 9.0, 5.6, 12.0, 4.6);
    const QPainterPath arrow =
        strokeOf(shaft, 2.4, Qt::FlatCap)
            .united(arrowHead(QPointF(11.4, 4.8), QPointF(1.0, -0.35), 4.0, 3.4))
            .simplified();
    fillShape(p, arrow, vertical(0.5, 12.0, QColor(0x7F, 0xD4, 0x52), QColor(0x2C, 0x8A, 0x22)),
              QColor(0x1F, 0x64, 0x18), 0.9);
}

void drawFolderMagnifier(QPainter& p) {
    drawFolder(p, QRectF(0.6, 1.8, 12.4, 10.6));
    QPainterPath handle;
    handle.moveTo(12.4, 12.4);
    handle.lineTo(15.0, 15.0);
    p.setPen(QPen(QColor(0x3C, 0x3C, 0x40), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(handle);
    const QPointF centre(10.0, 10.0);
    QRadialGradient glass(QPointF(9.0, 9.0), 3.5);
    glass.setColorAt(0.0, QColor(0xEE, 0xF8, 0xFF, 235));
    glass.setColorAt(1.0, QColor(0x9C, 0xCC, 0xF0, 235));
    p.setBrush(glass);
    p.setPen(QPen(vertical(6.0, 14.0, QColor(0x8A, 0x94, 0xA0), QColor(0x44, 0x4C, 0x58)), 1.5));
    p.drawEllipse(centre, 3.3, 3.3);
}

void drawRedCross(QPainter& p) {
    QPainterPath lines;
    lines.moveTo(3.6, 3.6);
    lines.lineTo(12.4, 12.4);
    lines.moveTo(12.4, 3.6);
    lines.lineTo(3.6, 12.4);
    const QPainterPath cross = strokeOf(lines, 3.6);
    fillShape(p, cross, vertical(1.5, 14.5, QColor(0xFF, 0x7E, 0x6C), QColor(0xC0, 0x1C, 0x14)),
              QColor(0x86, 0x12, 0x0C), 0.9);
    addGloss(p, cross, 1.5, 8.0, 110);
}

void drawRedDownArrow(QPainter& p) {
    QPainterPath arrow;
    arrow.addRect(QRectF(5.4, 1.2, 5.2, 7.6));
    QPainterPath head;
    head.moveTo(1.4, 8.0);
    head.lineTo(14.6, 8.0);
    head.lineTo(8.0, 14.8);
    head.closeSubpath();
    arrow = arrow.united(head).simplified();
    QLinearGradient body(0, 0, 16, 0);
    body.setColorAt(0.0, QColor(0xF5, 0x6A, 0x55));
    body.setColorAt(0.45, QColor(0xE0, 0x2E, 0x20));
    body.setColorAt(1.0, QColor(0xA8, 0x14, 0x0E));
    fillShape(p, arrow, body, QColor(0x7E, 0x0E, 0x0A), 0.9);
    addGloss(p, arrow, 1.2, 9.0, 90);
}

using Painter = void (*)(QPainter&);

struct PictureEntry {
    const char* name;
    Painter draw;
};

// By the names of PictureSet::kButtonNames.
const PictureEntry kPictures[] = {
    {"Information", drawInformation}, {"Globe", drawGlobe},
    {"CurvedArrow", drawCurvedArrow}, {"CirclingArrows", drawCirclingArrows},
    {"FolderArrow", drawFolderArrow}, {"FolderMagnifier", drawFolderMagnifier},
    {"RedCross", drawRedCross},       {"RedDownArrow", drawRedDownArrow},
};

QImage renderPicture(Painter draw) {
    Canvas canvas(PictureSet::kButtonSize, 16.0);
    draw(canvas.painter());
    return canvas.take();
}

// ---- MAINICON, drawn on a 128-unit grid. ----

QPainterPath iconTile() {
    QPainterPath tile;
    tile.addRoundedRect(QRectF(7, 7, 114, 114), 26, 26);
    return tile;
}

void drawTile(QPainter& p, qreal pixel) {
    const QPainterPath tile = iconTile();
    QLinearGradient body(0, 7, 0, 121);
    body.setColorAt(0.0, QColor(0xFF, 0xB0, 0x45));
    body.setColorAt(0.5, QColor(0xFF, 0x80, 0x00));
    body.setColorAt(1.0, QColor(0xD8, 0x4E, 0x00));
    fillShape(p, tile, body, QColor(0xA8, 0x40, 0x00), std::max(2.5, pixel));
    addGloss(p, tile, 7, 64, 120);
}

QPainterPath playTriangle(qreal left, qreal top, qreal height) {
    QPainterPath triangle;
    triangle.moveTo(left, top);
    triangle.lineTo(left + height * 0.87, top + height / 2);
    triangle.lineTo(left, top + height);
    triangle.closeSubpath();
    return triangle;
}

void drawPlaySymbol(QPainter& p, qreal pixel, bool withBadge) {
    // Standing a little left and up when the badge takes the lower right.
    const QPainterPath triangle = withBadge ? playTriangle(38, 28, 60) : playTriangle(44, 34, 60);
    const qreal join = std::max(10.0, 1.5 * pixel);
    p.setPen(QPen(QColor(0x80, 0x30, 0x00, 90), join, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0x80, 0x30, 0x00, 90));
    p.drawPath(triangle.translated(0, std::max(3.0, pixel)));
    p.setPen(QPen(QColor(0xFF, 0xFC, 0xF5), join, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xFF, 0xFC, 0xF5));
    p.drawPath(triangle);
}

void drawDownloadBadge(QPainter& p, qreal pixel) {
    const QPointF centre(96, 96);
    QPainterPath badge;
    badge.addEllipse(centre, 27, 27);
    QRadialGradient body(QPointF(88, 84), 36);
    body.setColorAt(0.0, QColor(0x6C, 0xB8, 0xF5));
    body.setColorAt(1.0, QColor(0x15, 0x55, 0xB0));
    p.setPen(QPen(QColor(0xFF, 0xF8, 0xF0), std::max(5.0, pixel)));
    p.setBrush(body);
    p.drawPath(badge);
    QPainterPath arrow;
    arrow.addRect(QRectF(90, 78, 12, 16));
    arrow = arrow.united(arrowHead(QPointF(96, 92), QPointF(0, 1), 18, 15)).simplified();
    p.setPen(QPen(QColor(0xFF, 0xFC, 0xF5), std::max(2.0, pixel * 0.6), Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.setBrush(QColor(0xFF, 0xFC, 0xF5));
    p.drawPath(arrow);
}

QImage renderMainIcon(int size) {
    Canvas canvas(size, 128.0);
    QPainter& p = canvas.painter();
    drawTile(p, canvas.pixel());
    // The badge needs room to be read; the smallest icons show the play symbol alone.
    const bool withBadge = size >= 32;
    drawPlaySymbol(p, canvas.pixel(), withBadge);
    if (withBadge)
        drawDownloadBadge(p, canvas.pixel());
    return canvas.take();
}

// ---- The idle video player, 180 x 147 pixels. ----

constexpr int kPlayerWidth = PictureSet::kPlayerWidth;
constexpr int kPlayerHeight = PictureSet::kPlayerHeight;
constexpr int kBarHeight = 22;

void drawScreen(QPainter& p, const QRectF& screen) {
    QRadialGradient glow(screen.center(), screen.width() * 0.7);
    glow.setColorAt(0.0, QColor(0x26, 0x26, 0x2A));
    glow.setColorAt(1.0, QColor(0x00, 0x00, 0x00));
    p.fillRect(screen, glow);
    const QPointF centre = screen.center();
    p.setPen(QPen(QColor(255, 255, 255, 150), 2.0));
    p.setBrush(QColor(255, 255, 255, 36));
    p.drawEllipse(centre, 23, 23);
    p.setPen(QPen(QColor(0xF2, 0xF2, 0xF2), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xF2, 0xF2, 0xF2));
    p.drawPath(playTriangle(centre.x() - 7, centre.y() - 11, 22));
}

void drawSpeaker(QPainter& p, qreal x, qreal y) {
    QPainterPath speaker;
    speaker.moveTo(x, y - 2);
    speaker.lineTo(x + 3, y - 2);
    speaker.lineTo(x + 7, y - 5.5);
    speaker.lineTo(x + 7, y + 5.5);
    speaker.lineTo(x + 3, y + 2);
    speaker.lineTo(x, y + 2);
    speaker.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawPath(speaker);
    p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(x + 5, y - 4, 6, 8), -50 * 16, 100 * 16);
    p.drawArc(QRectF(x + 5, y - 7, 10, 14), -50 * 16, 100 * 16);
}

void drawFullScreenMark(QPainter& p, qreal x, qreal y) {
    p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 1.4, Qt::SolidLine, Qt::SquareCap));
    const qreal s = 5, c = 2.5;
    for (const QPointF corner : {QPointF(-s, -s), QPointF(s, -s), QPointF(s, s), QPointF(-s, s)}) {
        const QPointF tip(x + corner.x(), y + corner.y());
        const qreal dx = corner.x() > 0 ? -c : c, dy = corner.y() > 0 ? -c : c;
        p.drawLine(tip, tip + QPointF(dx, 0));
        p.drawLine(tip, tip + QPointF(0, dy));
    }
}

void drawPlayerBar(QPainter& p, const QRectF& bar) {
    QLinearGradient body(bar.topLeft(), bar.bottomLeft());
    body.setColorAt(0.0, QColor(0x58, 0x58, 0x5E));
    body.setColorAt(0.5, QColor(0x33, 0x33, 0x38));
    body.setColorAt(1.0, QColor(0x1C, 0x1C, 0x20));
    p.fillRect(bar, body);
    p.setPen(QPen(QColor(0x70, 0x70, 0x78), 1.0));
    p.drawLine(QPointF(bar.left(), bar.top() + 0.5), QPointF(bar.right(), bar.top() + 0.5));
    const qreal middle = bar.center().y();
    // Play button, track with its knob at the start, volume and full-screen marks.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawPath(playTriangle(bar.left() + 8, middle - 5, 10));
    const QRectF track(bar.left() + 24, middle - 2, 108, 4);
    p.setPen(QPen(QColor(0x14, 0x14, 0x16), 1.0));
    p.setBrush(
        vertical(track.top(), track.bottom(), QColor(0x0C, 0x0C, 0x0E), QColor(0x4A, 0x4A, 0x50)));
    p.drawRoundedRect(track, 2, 2);
    p.setPen(QPen(QColor(0x50, 0x50, 0x56), 1.0));
    p.setBrush(
        vertical(middle - 4, middle + 4, QColor(0xF4, 0xF4, 0xF4), QColor(0xA8, 0xA8, 0xAE)));
    p.drawEllipse(QPointF(track.left() + 1, middle), 4, 4);
    drawSpeaker(p, bar.left() + 140, middle);
    drawFullScreenMark(p, bar.right() - 11, middle);
}

QImage renderIdlePlayer() {
    QImage image(kPlayerWidth, kPlayerHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF screen(0, 0, kPlayerWidth, kPlayerHeight - kBarHeight);
    drawScreen(p, screen);
    drawPlayerBar(p, QRectF(0, screen.bottom(), kPlayerWidth, kBarHeight));
    return image;
}

} // namespace

QImage MainIcon(int size) {
    return size > 0 ? renderMainIcon(size) : QImage();
}

QImage ButtonPicture(const QString& name) {
    for (const PictureEntry& entry : kPictures)
        if (name == QLatin1String(entry.name))
            return renderPicture(entry.draw);
    return QImage();
}

QImage IdlePlayer() {
    return renderIdlePlayer();
}

} // namespace PictureDrawing

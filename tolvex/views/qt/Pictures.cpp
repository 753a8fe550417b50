#include "Pictures.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace tolvex::qtviews {

namespace {

// A small palette, so that the pictures keep the plain look of 16-colour art.
const QColor kGreen(0, 160, 60);
const QColor kDarkGreen(0, 96, 32);
const QColor kRed(200, 30, 30);
const QColor kDarkRed(120, 0, 0);
const QColor kYellow(250, 210, 60);
const QColor kOchre(170, 120, 20);
const QColor kBlue(40, 80, 200);
const QColor kNavy(10, 30, 110);
const QColor kPaper(250, 250, 245);
const QColor kGrey(110, 110, 110);

QPixmap blank(int size = kToolPictureSize) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
}

QPainterPath playTriangle(QRectF box) {
    QPainterPath path;
    path.moveTo(box.left(), box.top());
    path.lineTo(box.right(), box.center().y());
    path.lineTo(box.left(), box.bottom());
    path.closeSubpath();
    return path;
}

// A sheet with a short wave on it: a channel of the list.
void drawChannelSheet(QPainter& p) {
    p.setPen(QPen(kGrey, 1.0));
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 5.5, 19, 21));
    QPainterPath wave;
    wave.moveTo(6, 16);
    wave.cubicTo(8, 9, 10, 9, 12.5, 16);
    wave.cubicTo(15, 23, 17, 23, 20, 16);
    p.setPen(QPen(kBlue, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

QPixmap drawStart() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    p.setPen(QPen(kDarkGreen, 1.5));
    p.setBrush(kGreen);
    p.drawPath(playTriangle(QRectF(8, 5, 17, 20)));
    return pixmap;
}

QPixmap drawStop() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    p.setPen(QPen(kDarkRed, 1.5));
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(7, 7, 16, 16), 2, 2);
    return pixmap;
}

QPixmap drawAdd() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    drawChannelSheet(p);
    p.setPen(QPen(kDarkGreen, 1.0));
    p.setBrush(kGreen);
    QPainterPath plus;
    plus.addRect(QRectF(20, 13, 4, 14));
    plus.addRect(QRectF(15, 18, 14, 4));
    p.drawPath(plus.simplified());
    return pixmap;
}

QPixmap drawDelete() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    drawChannelSheet(p);
    p.setPen(QPen(kRed, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 15), QPointF(27, 26));
    p.drawLine(QPointF(27, 15), QPointF(16, 26));
    return pixmap;
}

void drawFolder(QPainter& p) {
    p.setPen(QPen(kOchre, 1.0));
    p.setBrush(kYellow.darker(115));
    QPainterPath back;
    back.moveTo(3.5, 9.5);
    back.lineTo(10.5, 9.5);
    back.lineTo(12.5, 12.5);
    back.lineTo(24.5, 12.5);
    back.lineTo(24.5, 25.5);
    back.lineTo(3.5, 25.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kYellow);
    QPainterPath front;
    front.moveTo(3.5, 25.5);
    front.lineTo(7.5, 15.5);
    front.lineTo(28.5, 15.5);
    front.lineTo(24.5, 25.5);
    front.closeSubpath();
    p.drawPath(front);
}

QPixmap drawLoad() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    drawFolder(p);
    // An arrow coming out of the folder.
    p.setPen(QPen(kDarkGreen, 1.0));
    p.setBrush(kGreen);
    QPainterPath arrow;
    arrow.moveTo(17, 2);
    arrow.lineTo(24, 8);
    arrow.lineTo(20, 8);
    arrow.lineTo(20, 13);
    arrow.lineTo(14, 13);
    arrow.lineTo(14, 8);
    arrow.lineTo(10, 8);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return pixmap;
}

QPixmap drawSave() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    // A diskette: body, shutter and label.
    p.setPen(QPen(kNavy, 1.0));
    p.setBrush(kBlue);
    QPainterPath body;
    body.moveTo(4.5, 4.5);
    body.lineTo(22.5, 4.5);
    body.lineTo(25.5, 7.5);
    body.lineTo(25.5, 25.5);
    body.lineTo(4.5, 25.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(9.5, 4.5, 11, 7));
    p.setBrush(kNavy);
    p.drawRect(QRectF(16.5, 5.5, 2, 5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(7.5, 15.5, 15, 10));
    p.setPen(QPen(kGrey, 1.0));
    p.drawLine(QPointF(9.5, 19), QPointF(20.5, 19));
    p.drawLine(QPointF(9.5, 22), QPointF(20.5, 22));
    return pixmap;
}

// "Start" while the pointer rests on it: the triangle glows and sends out
// waves; the frames step through one, two and three waves.
QPixmap drawFrame(int frame) {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    prepare(p);
    const std::array<QColor, 3> fills = {QColor(40, 200, 90), QColor(90, 220, 120),
                                         QColor(150, 240, 160)};
    p.setPen(QPen(kDarkGreen, 1.5));
    p.setBrush(fills[static_cast<std::size_t>(frame)]);
    p.drawPath(playTriangle(QRectF(4, 5, 15, 20)));
    p.setBrush(Qt::NoBrush);
    for (int wave = 0; wave <= frame; ++wave) {
        double r = 4.0 + 3.5 * wave;
        p.setPen(QPen(wave == frame ? kGreen : kDarkGreen, 1.8, Qt::SolidLine, Qt::RoundCap));
        QRectF arc(17.0 - r, 15.0 - r, 2 * r, 2 * r);
        p.drawArc(arc, -50 * 16, 100 * 16);
    }
    return pixmap;
}

// A screen with a sine on it.
QPixmap drawIcon(int size) {
    QPixmap pixmap = blank(size);
    QPainter p(&pixmap);
    prepare(p);
    double s = size / 48.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(40, 40, 40), 2.0));
    p.setBrush(QColor(20, 50, 40));
    p.drawRoundedRect(QRectF(2, 5, 44, 38), 5, 5);
    p.setPen(QPen(QColor(60, 110, 90), 1.0));
    p.drawLine(QPointF(6, 24), QPointF(42, 24));
    p.drawLine(QPointF(24, 9), QPointF(24, 39));
    QPainterPath sine;
    sine.moveTo(6, 24);
    sine.cubicTo(11, 6, 13, 6, 15, 15);
    sine.cubicTo(17, 24, 19, 42, 24, 24);
    sine.cubicTo(29, 6, 31, 6, 33, 15);
    sine.cubicTo(35, 24, 37, 42, 42, 24);
    p.setPen(QPen(QColor(120, 255, 120), size >= 24 ? 3.0 : 4.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sine);
    return pixmap;
}

} // namespace

QPixmap toolPicture(ToolButton button) {
    switch (button) {
    case ToolButton::Start:
        return drawStart();
    case ToolButton::Stop:
        return drawStop();
    case ToolButton::Add:
        return drawAdd();
    case ToolButton::Delete:
        return drawDelete();
    case ToolButton::Load:
        return drawLoad();
    case ToolButton::Save:
        return drawSave();
    }
    return blank();
}

QPixmap animationFrame(int frame) {
    if (frame < 0 || frame > 2)
        frame = 0;
    return drawFrame(frame);
}

QIcon windowIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace tolvex::qtviews

#include "app/ui/AppIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor Sea(2, 106, 163);
const QColor Sky(0, 160, 192);

QPixmap canvas(int size = 32)
{
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

// An access point: a box with two antennas, the program's own sign.
void drawAccessPoint(QPainter& g, const QRectF& r, const QColor& colour)
{
    const qreal w = r.width();
    const qreal h = r.height();
    g.setPen(QPen(colour.darker(140), w / 16));
    g.setBrush(colour);
    g.drawRoundedRect(QRectF(r.left() + w * 0.12, r.top() + h * 0.55, w * 0.76, h * 0.3), w * 0.06, w * 0.06);
    g.drawLine(QPointF(r.left() + w * 0.25, r.top() + h * 0.55), QPointF(r.left() + w * 0.18, r.top() + h * 0.12));
    g.drawLine(QPointF(r.left() + w * 0.75, r.top() + h * 0.55), QPointF(r.left() + w * 0.82, r.top() + h * 0.12));
    g.setBrush(QColor(120, 230, 120));
    g.setPen(Qt::NoPen);
    for (int k = 0; k < 3; ++k)
        g.drawEllipse(QPointF(r.left() + w * (0.3 + 0.13 * k), r.top() + h * 0.7), w * 0.04, w * 0.04);
}

} // namespace

QImage ProgramIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    g.setBrush(Sea);
    g.setPen(Qt::NoPen);
    g.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    drawAccessPoint(g, QRectF(size * 0.08, size * 0.05, size * 0.84, size * 0.9),
                    QColor(235, 240, 245));
    return image;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}

QIcon ToolbarIcon(int index)
{
    QPixmap p = canvas();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case 0: { // Discover: waves going out from an access point
        drawAccessPoint(g, QRectF(2, 10, 20, 20), Sea);
        g.setPen(QPen(Sky, 2.5));
        g.setBrush(Qt::NoBrush);
        for (int k = 0; k < 3; ++k)
            g.drawArc(QRectF(12 - 4 * k, 2 - 4 * k, 18 + 8 * k, 18 + 8 * k), 0 * 16, 80 * 16);
        break;
    }
    case 1: { // Set IP: a numbered tag
        g.setBrush(QColor(250, 210, 90));
        g.setPen(QPen(QColor(150, 110, 20), 1.5));
        QPainterPath tag;
        tag.moveTo(3, 9);
        tag.lineTo(22, 9);
        tag.lineTo(30, 16);
        tag.lineTo(22, 23);
        tag.lineTo(3, 23);
        tag.closeSubpath();
        g.drawPath(tag);
        g.setPen(QColor(60, 40, 0));
        QFont f = g.font();
        f.setPixelSize(10);
        f.setBold(true);
        g.setFont(f);
        g.drawText(QRectF(3, 9, 20, 14), Qt::AlignCenter, QStringLiteral("IP"));
        break;
    }
    case 2: { // Configure: a sheet with lines
        g.setBrush(Qt::white);
        g.setPen(QPen(Qt::darkGray, 1.5));
        g.drawRect(QRectF(6, 3, 20, 26));
        g.setPen(QPen(Sea, 2));
        for (int y = 9; y <= 23; y += 5)
            g.drawLine(QPointF(10, y), QPointF(22, y));
        break;
    }
    case 3: { // Upgrade: an arrow into a chip
        g.setBrush(QColor(70, 70, 80));
        g.setPen(Qt::NoPen);
        g.drawRect(QRectF(6, 18, 20, 11));
        g.setPen(QPen(QColor(180, 180, 190), 1.5));
        for (int x = 9; x <= 23; x += 4) {
            g.drawLine(QPointF(x, 29), QPointF(x, 31));
        }
        g.setPen(Qt::NoPen);
        g.setBrush(QColor(40, 170, 70));
        QPainterPath arrow;
        arrow.moveTo(16, 2);
        arrow.lineTo(25, 11);
        arrow.lineTo(19.5, 11);
        arrow.lineTo(19.5, 17);
        arrow.lineTo(12.5, 17);
        arrow.lineTo(12.5, 11);
        arrow.lineTo(7, 11);
        arrow.closeSubpath();
        g.drawPath(arrow);
        break;
    }
    case 4: { // System: sliders
        g.setPen(QPen(Qt::darkGray, 2));
        for (int k = 0; k < 3; ++k)
            g.drawLine(QPointF(5, 8 + 8 * k), QPointF(27, 8 + 8 * k));
        g.setBrush(Sea);
        g.setPen(Qt::NoPen);
        const int knobs[3] = {10, 21, 14};
        for (int k = 0; k < 3; ++k)
            g.drawRoundedRect(QRectF(knobs[k] - 3, 4 + 8 * k, 6, 8), 2, 2);
        break;
    }
    default: { // About: an "i" in a circle
        g.setBrush(Sky);
        g.setPen(Qt::NoPen);
        g.drawEllipse(QRectF(3, 3, 26, 26));
        g.setPen(Qt::white);
        QFont f = g.font();
        f.setPixelSize(18);
        f.setBold(true);
        f.setFamily(QStringLiteral("serif"));
        g.setFont(f);
        g.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("i"));
        break;
    }
    }
    return QIcon(p);
}

QPixmap LogoPicture(int width, int height)
{
    QPixmap p(width, height);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, Sea);
    gradient.setColorAt(0.5, Sky);
    gradient.setColorAt(1, Sea.darker(150));
    g.fillRect(p.rect(), gradient);
    drawAccessPoint(g, QRectF(width * 0.15, 70, width * 0.7, width * 0.7), QColor(235, 240, 245));
    g.setPen(QColor(255, 255, 255, 60));
    g.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 6; ++k)
        g.drawEllipse(QPointF(width / 2.0, 100), k * 22.0, k * 22.0);
    return p;
}

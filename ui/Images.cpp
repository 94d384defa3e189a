#include "ui/Images.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

#include <initializer_list>
#include <iterator>

namespace {

constexpr int side = 32;

// Fills the closed outline through the corners, edged with the pen.
void drawOutline(QPainter &p, const QPen &pen, const QBrush &fill,
                 std::initializer_list<QPointF> corners)
{
    p.setPen(pen);
    p.setBrush(fill);
    p.drawPolygon(std::data(corners), int(corners.size()));
}

void drawSheet(QPainter &p)
{
    drawOutline(p, QPen(QColor(0x5a, 0x6b, 0x7d), 1.2), QColor(0xf7, 0xf9, 0xfc),
                {{6.5, 3.5}, {19.5, 3.5}, {25.5, 9.5}, {25.5, 28.5}, {6.5, 28.5}});
    p.setPen(QPen(QColor(0xb4, 0xc0, 0xcc), 1.5));
    for (int y = 12; y <= 24; y += 4)
        p.drawLine(QPointF(10, y), QPointF(21, y));
}

void drawBadge(QPainter &p, const QColor &colour)
{
    p.setPen(QPen(colour.darker(130), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(15.5, 15.5, 15, 15));
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void drawCross(QPainter &p, const QRectF &box, qreal width, const QColor &colour)
{
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(box.topLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomLeft());
}

QPixmap drawPicture(Picture picture)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x2e, 0x9d, 0x4f);
    const QColor red(0xd2, 0x3c, 0x32);

    switch (picture) {
    case Picture::Add:
        drawSheet(p);
        drawBadge(p, green);
        p.drawLine(QPointF(23, 18.5), QPointF(23, 27.5));
        p.drawLine(QPointF(18.5, 23), QPointF(27.5, 23));
        break;
    case Picture::Change:
        drawSheet(p);
        // A pencil.
        drawOutline(p, QPen(QColor(0x8a, 0x5a, 0x1c), 1), QColor(0xf2, 0xb1, 0x34),
                    {{27, 10}, {30, 13}, {17, 26}, {13, 27}, {14, 23}});
        break;
    case Picture::Delete:
        drawSheet(p);
        drawBadge(p, red);
        drawCross(p, QRectF(19.5, 19.5, 7, 7), 2.4, Qt::white);
        break;
    case Picture::Start:
        drawOutline(p, QPen(green.darker(140), 1.2), green, {{8, 4}, {28, 16}, {8, 28}});
        break;
    case Picture::Stop:
        p.setPen(QPen(red.darker(140), 1.2));
        p.setBrush(red);
        p.drawRoundedRect(QRectF(6.5, 6.5, 19, 19), 3, 3);
        break;
    case Picture::Confirm:
        p.setPen(QPen(green, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QList<QPointF> {{6, 17}, {13, 24}, {27, 8}});
        break;
    case Picture::Cancel:
        drawCross(p, QRectF(8, 8, 16, 16), 4.5, red);
        break;
    case Picture::History:
        drawSheet(p);
        // A clock.
        drawBadge(p, QColor(0x2f, 0x6f, 0xc0));
        p.drawPolyline(QList<QPointF> {{23, 18}, {23, 23}, {26.5, 25}});
        break;
    }
    p.end();
    return pixmap;
}

// A picture drawn the first time it is shown, not when its window is built: the pictures of the
// hidden entry dialog and of the buttons would otherwise all be painted before the main window
// can show. Once drawn it is an icon of that one pixmap, as if made from it.
class PictureEngine final : public QIconEngine
{
public:
    explicit PictureEngine(Picture picture)
        : m_picture(picture)
    { }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        drawn().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return drawn().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return drawn().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const QSize picture(side, side);
        return picture.width() > size.width() || picture.height() > size.height()
            ? picture.scaled(size, Qt::KeepAspectRatio)
            : picture;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {{side, side}}; }
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("vantrel.picture"); }
    QIconEngine *clone() const override { return new PictureEngine(*this); }

private:
    const QIcon &drawn()
    {
        if (m_drawn.isNull())
            m_drawn = QIcon(drawPicture(m_picture));
        return m_drawn;
    }

    Picture m_picture;
    QIcon m_drawn;
};

} // namespace

QIcon pictureIcon(Picture picture)
{
    return QIcon(new PictureEngine(picture));
}

QList<QIcon> imageList(std::initializer_list<Picture> pictures)
{
    QList<QIcon> icons;
    for (Picture picture : pictures)
        icons.append(pictureIcon(picture));
    return icons;
}

#include "ui/Images.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <initializer_list>

using namespace Qt::StringLiterals;

namespace {

constexpr int side = 32;

QString fileOf(Picture picture)
{
    // In the order of the pictures.
    static const char *const names[] = {
        "add",          "change",      "delete",      "start",   "stop",
        "confirm",      "cancel",      "history",     "options", "tray-stopped",
        "tray-running", "tray-paused", "tray-waiting"};
    return u":/images/"_s + QLatin1StringView(names[int(picture)]) + u".svg";
}

// A picture drawn from its SVG file the first time it is shown at a size, not when its window is
// built: the pictures of the hidden entry dialog and of the buttons would otherwise all be drawn
// before the main window can show. Each size is drawn for the screen's own pixels, so that the
// picture stays sharp at any scale; the disabled and other modes come from the drawn pixmaps as
// for any icon made from pixmaps.
class PictureEngine final : public QIconEngine
{
public:
    explicit PictureEngine(Picture picture)
        : m_picture(picture)
    { }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        drawn(rect.size() * scale).paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return drawn(size).pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return drawn(size * scale).pixmap(size, scale, mode, state);
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
    QIconEngine *clone() const override { return new PictureEngine(m_picture); }

private:
    const QIcon &drawn(QSize pixels)
    {
        // Square, as every picture is.
        pixels = QSize(side, side).scaled(pixels.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio);
        if (!m_sizes.contains(pixels)) {
            QPixmap pixmap(pixels);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            QSvgRenderer(fileOf(m_picture)).render(&painter);
            painter.end();
            m_drawn.addPixmap(pixmap);
            m_sizes.insert(pixels, true);
        }
        return m_drawn;
    }

    Picture m_picture;
    QIcon m_drawn;
    QHash<QSize, bool> m_sizes;
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

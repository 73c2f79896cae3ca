#include "app/MyCStatic.h"

#include "app/FitPicture.h"

#include <QImage>
#include <QPainter>
#include <QWheelEvent>

MyCStatic::MyCStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    // Focus follows the mouse into the video area, as the main window asks for it.
    setFocusPolicy(Qt::ClickFocus);
}

void MyCStatic::SetPicture(BitmapPtr picture) {
    m_picture = std::move(picture);
    ++m_pictureSerial;
    update();
}

void MyCStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, width() - 1, height() - 1));

    const Bitmap* bitmap = m_picture.get();
    if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0)
        return;
    const FitRect fit = FitPicture(bitmap->width, bitmap->height, width(), height());
    if (fit.width <= 0 || fit.height <= 0)
        return;
    // Wraps the shared pixels without a copy; the Bitmap stays alive through m_picture while we draw.
    const QImage image(bitmap->pixels.data(), bitmap->width, bitmap->height, bitmap->stride(),
                       QImage::Format_RGB32);
    // Nearest-neighbour stretching, like COLORONCOLOR: cheap and sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(fit.x, fit.y, fit.width, fit.height), image, image.rect());
    if (m_paintedSerial != m_pictureSerial) {
        m_paintedSerial = m_pictureSerial;
        ++m_picturesPainted;
    }
}

void MyCStatic::wheelEvent(QWheelEvent* event) {
    emit wheelTurned(event->angleDelta().y());
    event->accept();
}

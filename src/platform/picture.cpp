#include "platform/picture.h"

#include "platform/failure.h"

#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

namespace platform {

QImage loadPicture(const QString& path)
{
    if (path.isEmpty())
        return {};
    QImageReader::setAllocationLimit(kPictureAllocationLimitMb);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        QString description = reader.errorString();
        if (reader.error() == QImageReader::FileNotFoundError)
            description = QStringLiteral("ファイルが見つかりません。: %1").arg(path);
        else if (reader.error() == QImageReader::UnsupportedFormatError || reader.error() == QImageReader::InvalidDataError)
            description = QStringLiteral("ピクチャが不正です。: %1").arg(path);
        throw Failure(description);
    }
    return image;
}

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    // Movement without a held button must reach the window too.
    setMouseTracking(true);
}

void PictureBox::setPicture(const QImage& picture)
{
    m_picture = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(contentsRect(), m_picture);
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    QFrame::mousePressEvent(event);
    emit pressed();
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    QFrame::mouseMoveEvent(event);
    emit moved();
}

} // namespace platform

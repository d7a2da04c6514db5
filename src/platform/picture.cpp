#include "platform/picture.h"

#include "platform/failure.h"
#include "platform/files.h"

#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

namespace platform {

QImage loadPicture(const QString& path, const QSize& shownSize)
{
    if (path.isEmpty())
        return {};
    // Reading a pipe or a device would wait for bytes that may never come.
    if (!isOrdinaryFile(path))
        throw Failure((QFileInfo::exists(path) ? QStringLiteral("通常のファイルではないため、画像として読み込めません。: %1")
                                               : QStringLiteral("ファイルが見つかりません。: %1"))
                          .arg(path));
    QImageReader::setAllocationLimit(kPictureAllocationLimitMb);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // Four times what is shown leaves room for a high-density screen and a later larger box.
    const QSize size = reader.size();
    const QSize bound = shownSize.isValid() ? shownSize * 4 : QSize(1024, 1024);
    if (size.isValid() && (size.width() > bound.width() || size.height() > bound.height()))
        reader.setScaledSize(size.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
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

void PictureBox::load(const QString& path)
{
    setPicture(loadPicture(path, contentsRect().size()));
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

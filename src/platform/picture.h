#pragma once

#include <QFrame>
#include <QImage>
#include <QString>

namespace platform {

// Reads a bitmap, GIF or JPEG file (and whatever else Qt reads). An empty path gives an empty
// picture; anything but an ordinary file, or a file that cannot be read as a picture, throws
// Failure with a description. A picture far larger than shown is decoded scaled down towards
// shownSize (straight from the file where the format allows), so a large photo is a picture and
// memory stays bounded; what would still exceed the loader's allocation limit is refused.
QImage loadPicture(const QString& path, const QSize& shownSize = {});

// The largest picture the loader decodes, in megabytes.
inline constexpr int kPictureAllocationLimitMb = 64;

// A picture area: the picture is stretched to fill the area inside a single-line border,
// proportions not kept. Reports presses and pointer movement for the windows that care.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    // Shows the picture at path, decoded for this box; throws Failure and keeps what it showed
    // when the file cannot be shown.
    void load(const QString& path);
    const QImage& picture() const { return m_picture; }

signals:
    void pressed();
    void moved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QImage m_picture;
};

} // namespace platform

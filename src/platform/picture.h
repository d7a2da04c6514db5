#pragma once

#include <QFrame>
#include <QImage>
#include <QString>

namespace platform {

// Reads a bitmap, GIF or JPEG file (and whatever else Qt reads). An empty path gives an empty
// picture; a file that cannot be read as a picture throws Failure with the loader's description.
// Memory stays bounded: pictures larger than the loader's allocation limit are refused.
QImage loadPicture(const QString& path);

// The largest picture the loader decodes, in megabytes.
inline constexpr int kPictureAllocationLimitMb = 64;

// A picture area: the picture is stretched to fill the area inside a single-line border,
// proportions not kept. Reports presses and pointer movement for the windows that care.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
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

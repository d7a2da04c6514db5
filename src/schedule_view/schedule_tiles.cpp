#include "schedule_view/schedule_tiles.h"

#include "holidays/japanese_holidays.h"
#include "schedule_view/calendar_marks.h"
#include "state/text.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace schedule {
namespace {
const QColor kToday(0xff, 0xf4, 0xc8);
const QColor kOutside(0xf3, 0xf3, 0xf3);
const QColor kLine(0xd4, 0xd4, 0xd4);
const QColor kBlock(0xdc, 0xe8, 0xfa);
const QColor kBlockEdge(0x3a, 0x6f, 0xc4);
const QColor kHighBlock(0xfc, 0xe0, 0xe0);
const QColor kHighEdge(0xc8, 0x28, 0x28);
const QColor kGreyText(0x8a, 0x8a, 0x8a);
const QString kRest = QStringLiteral("他%1件");
const QString kRestName = QStringLiteral("%1月%2日（%3）他%4件");
const QString kHighMark = QStringLiteral("！");

QString clock(const QTime& time)
{
    return QStringLiteral("%1:%2").arg(time.hour()).arg(state::twoDigits(time.minute()));
}

// "10:00〜11:00" for an appointment with an end, "10:00" without.
QString span(const Appointment& a)
{
    if (a.allDay)
        return QStringLiteral("終日");
    return a.end ? clock(a.start) + QStringLiteral("〜") + clock(a.end->time()) : clock(a.start);
}

QColor textColour(const QWidget* widget, const QDate& date)
{
    const QColor colour = dayColour(date);
    return colour.isValid() ? colour : widget->palette().color(QPalette::WindowText);
}
} // namespace

int lineHeight(const QWidget* widget)
{
    return widget->fontMetrics().height() + 2;
}

Tile::Tile(Kind kind, const QDate& date, QWidget* parent) : QWidget(parent), m_kind(kind), m_date(date)
{
    setFocusPolicy(Qt::StrongFocus);
}

void Tile::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        // A held key opens one window, not one after each that closes.
        if (!event->isAutoRepeat())
            emit activated(this);
        return;
    case Qt::Key_Delete:
        if (m_kind == Kind::Appointment && !event->isAutoRepeat())
            emit deleteRequested(this);
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        emit stepRequested(this, event->key());
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void Tile::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    emit activated(this);
}

void Tile::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
    emit focused(this);
}

void Tile::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void Tile::paintFocus(QPainter& painter) const
{
    if (!hasFocus())
        return;
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

DayHeading::DayHeading(const QDate& date, bool today, int count, QWidget* parent)
    : Tile(Kind::Day, date, parent), m_today(today)
{
    setAccessibleName(dayName(date, count));
}

void DayHeading::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_today)
        painter.fillRect(rect(), kToday);
    painter.setPen(kLine);
    painter.drawLine(rect().topRight(), rect().bottomRight());
    QFont font = this->font();
    font.setBold(m_today);
    painter.setFont(font);
    painter.setPen(textColour(this, date()));
    const int line = lineHeight(this);
    const QRect first(2, 2, width() - 4, line);
    painter.drawText(first, Qt::AlignCenter,
                     QStringLiteral("%1/%2（%3）").arg(date().month()).arg(date().day()).arg(weekdayName(date())));
    const QString holiday = holidays::holidayName(date());
    if (!holiday.isEmpty()) {
        font.setBold(false);
        painter.setFont(font);
        painter.setPen(holidayColour());
        const QRect second(2, 2 + line, width() - 4, line);
        painter.drawText(second, Qt::AlignCenter, fontMetrics().elidedText(holiday, Qt::ElideRight, second.width()));
    }
    paintFocus(painter);
}

AppointmentTile::AppointmentTile(const Appointment& appointment, Look look, QWidget* parent)
    : Tile(Kind::Appointment, appointment.date, parent), m_appointment(appointment), m_look(look)
{
    setId(appointment.id);
    setAccessibleName(appointmentName(appointment));
}

void AppointmentTile::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool high = m_appointment.importance == kHighImportance;
    const QFontMetrics metrics = fontMetrics();
    const int line = lineHeight(this);
    const QString subject = (high ? kHighMark : QString()) + m_appointment.subject;
    if (m_look == Look::Line) {
        if (high || m_appointment.allDay)
            painter.fillRect(rect().adjusted(1, 0, -1, 0), high ? kHighBlock : kBlock);
        painter.setPen(high ? kHighEdge : palette().color(QPalette::WindowText));
        const QString text = m_appointment.allDay ? subject : clock(m_appointment.start) + QLatin1Char(' ') + subject;
        painter.drawText(rect().adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         metrics.elidedText(text, Qt::ElideRight, width() - 5));
        paintFocus(painter);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(high ? kHighBlock : kBlock);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.fillRect(QRect(0, 0, 3, height()), high ? kHighEdge : kBlockEdge);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // As many lines as the block has room for: the time, the subject, the place. A block of one
    // line gives them side by side.
    QStringList lines{span(m_appointment), subject};
    if (!m_appointment.place.isEmpty())
        lines << m_appointment.place;
    if (height() < 2 * line)
        lines = {lines.join(QLatin1Char(' '))};
    const QRect text = rect().adjusted(6, 1, -3, -1);
    for (int i = 0; i < lines.size() && (i == 0 || (i + 1) * line <= text.height()); ++i) {
        painter.setPen(i == 1 && high ? kHighEdge : palette().color(QPalette::WindowText));
        painter.drawText(QRect(text.left(), text.top() + i * line, text.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(lines[i], Qt::ElideRight, text.width()));
    }
    paintFocus(painter);
}

MonthDay::MonthDay(const QDate& date, bool inMonth, bool today, std::vector<Appointment> appointments, QWidget* parent)
    : Tile(Kind::Day, date, parent), m_inMonth(inMonth), m_today(today), m_appointments(std::move(appointments))
{
    setAccessibleName(dayName(date, int(m_appointments.size())));
    const size_t lines = std::min<size_t>(m_appointments.size(), kMostLines);
    for (size_t i = 0; i < lines; ++i)
        m_parts.push_back(new AppointmentTile(m_appointments[i], AppointmentTile::Look::Line, this));
    m_more = new MoreLine(date, this);
    m_parts.push_back(m_more);
}

void MonthDay::resizeEvent(QResizeEvent* event)
{
    Tile::resizeEvent(event);
    placeLines();
}

void MonthDay::placeLines()
{
    const int line = lineHeight(this);
    const int top = line + 2;
    const int room = std::max(0, (height() - top - 1) / line);
    const int total = int(m_appointments.size());
    const int lines = int(m_parts.size()) - 1;
    m_shown = std::min(total <= room ? total : std::max(room - 1, 0), lines);
    for (int i = 0; i < lines; ++i) {
        m_parts[i]->setGeometry(1, top + i * line, width() - 3, line);
        m_parts[i]->setVisible(i < m_shown);
    }
    const int rest = total - m_shown;
    if (rest > 0)
        static_cast<MoreLine*>(m_more)->setRest(rest, m_appointments[m_shown].id);
    m_more->setGeometry(1, top + m_shown * line, width() - 3, line);
    m_more->setVisible(rest > 0 && room > 0);
}

void MonthDay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_today ? kToday : m_inMonth ? palette().color(QPalette::Base) : kOutside);
    painter.setPen(kLine);
    painter.drawLine(rect().topRight(), rect().bottomRight());
    painter.drawLine(rect().bottomLeft(), rect().bottomRight());
    QFont font = this->font();
    font.setBold(m_today);
    painter.setFont(font);
    QColor colour = textColour(this, date());
    if (!m_inMonth)
        colour = colour == palette().color(QPalette::WindowText) ? kGreyText : colour.lighter(150);
    painter.setPen(colour);
    const QString number = date().day() == 1 ? QStringLiteral("%1月1日").arg(date().month()) : QString::number(date().day());
    const QRect head(4, 1, width() - 8, lineHeight(this));
    painter.drawText(head, Qt::AlignLeft | Qt::AlignVCenter, number);
    const QString holiday = holidays::holidayName(date());
    if (!holiday.isEmpty()) {
        font.setBold(false);
        painter.setFont(font);
        const int after = fontMetrics().horizontalAdvance(number) + 6;
        painter.drawText(head.adjusted(after, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(holiday, Qt::ElideRight, head.width() - after));
    }
    paintFocus(painter);
}

MoreLine::MoreLine(const QDate& date, QWidget* parent) : Tile(Kind::More, date, parent) {}

void MoreLine::setRest(int count, qint64 firstId)
{
    m_rest = count;
    setId(firstId);
    setAccessibleName(kRestName.arg(date().month()).arg(date().day()).arg(weekdayName(date())).arg(count));
    update();
}

void MoreLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(kGreyText);
    painter.drawText(rect().adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, kRest.arg(m_rest));
    paintFocus(painter);
}

} // namespace schedule

#include "schedule_view/period_views.h"

#include "schedule_view/calendar_marks.h"
#include "schedule_view/schedule_tiles.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace schedule {
namespace {
const QColor kToday(0xff, 0xf9, 0xe3);
const QColor kHourLine(0xd4, 0xd4, 0xd4);
const QColor kHalfLine(0xec, 0xec, 0xec);
const QColor kNowLine(0xe0, 0x30, 0x30);
const QString kAllDay = QStringLiteral("終日");
const QString kHour = QStringLiteral("%1時");

int minuteOfDay(const QTime& time)
{
    return time.hour() * 60 + time.minute();
}
} // namespace

QDate weekStart(const QDate& day, bool sundayFirst)
{
    const int firstDay = sundayFirst ? Qt::Sunday : Qt::Monday;
    return day.addDays(-((day.dayOfWeek() - firstDay + 7) % 7));
}

Tile* PeriodView::dayTile(const QDate& date) const
{
    const auto found = std::ranges::find_if(m_tiles, [&](const Tile* t) { return t->kind() == Tile::Kind::Day && t->date() == date; });
    return found == m_tiles.end() ? nullptr : *found;
}

Tile* PeriodView::appointmentTile(qint64 id) const
{
    const auto found = std::ranges::find_if(m_tiles, [&](const Tile* t) { return t->kind() == Tile::Kind::Appointment && t->id() == id; });
    return found == m_tiles.end() ? nullptr : *found;
}

void PeriodView::clearTiles()
{
    // A tile inside another goes with it.
    QList<Tile*> outer;
    for (Tile* tile : std::as_const(m_tiles)) {
        if (!qobject_cast<Tile*>(tile->parentWidget()))
            outer << tile;
    }
    m_tiles.clear();
    qDeleteAll(outer);
}

void PeriodView::adopt(Tile* tile)
{
    if (!m_tiles.isEmpty())
        setTabOrder(m_tiles.last(), tile);
    m_tiles << tile;
    connect(tile, &Tile::activated, this, &PeriodView::activate);
    connect(tile, &Tile::deleteRequested, this, [this](Tile* t) { emit deleteRequested(t->id()); });
    connect(tile, &Tile::stepRequested, this, &PeriodView::step);
    connect(tile, &Tile::focused, this, [this](Tile* t) { focusedTile(t); });
    if (!qobject_cast<Tile*>(tile->parentWidget()))
        tile->show();
}

void PeriodView::activate(Tile* tile)
{
    switch (tile->kind()) {
    case Tile::Kind::Day:
        emit newRequested(tile->date(), std::nullopt);
        break;
    case Tile::Kind::Appointment:
        emit changeRequested(tile->id());
        break;
    case Tile::Kind::More:
        emit dayOpened(tile->date(), tile->id());
        break;
    }
}

void PeriodView::step(Tile* from, int key)
{
    const QDate date = from->date();
    auto goToDay = [this](const QDate& day) {
        if (Tile* tile = day >= m_first && day <= m_last ? dayTile(day) : nullptr)
            tile->setFocus(Qt::OtherFocusReason);
        else
            emit dateRequested(day);
    };
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        goToDay(date.addDays(key == Qt::Key_Left ? -1 : 1));
        return;
    }
    const QList<Tile*> parts = dayParts(date);
    const int next = int(parts.indexOf(from)) + (key == Qt::Key_Down ? 1 : -1);
    if (next >= 0 && next < parts.size())
        parts[next]->setFocus(Qt::OtherFocusReason);
    else if (rowDays() > 0)
        goToDay(date.addDays(key == Qt::Key_Down ? rowDays() : -rowDays()));
}

// The week.

namespace {
// The time now across today's column, over the blocks, which it must not keep from the mouse.
class NowLine : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kNowLine, 2));
        painter.setBrush(kNowLine);
        const int middle = height() / 2;
        painter.drawLine(middle, middle, width(), middle);
        painter.drawEllipse(QPoint(middle, middle), middle - 1, middle - 1);
    }
};
} // namespace

HourGrid::HourGrid(QWidget* parent) : QWidget(parent), m_nowLine(new NowLine(this))
{
    setFixedHeight(24 * WeekView::kHourHeight + 1);
    m_nowLine->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_nowLine->hide();
}

void HourGrid::setWeek(const QDate& first, const QDateTime& now)
{
    m_first = first;
    m_now = now;
    placeNowLine();
    update();
}

void HourGrid::placeNowLine()
{
    const qint64 column = m_first.daysTo(m_now.date());
    m_nowLine->setVisible(column >= 0 && column < 7);
    constexpr int kDot = 9;
    const int left = columnLeft(int(column));
    m_nowLine->setGeometry(left - kDot / 2, minuteTop(minuteOfDay(m_now.time())) - kDot / 2,
                           columnLeft(int(column) + 1) - left + kDot / 2, kDot);
    m_nowLine->raise();
}

int HourGrid::columnLeft(int column) const
{
    return WeekView::kGutter + (width() - WeekView::kGutter) * column / 7;
}

int HourGrid::minuteTop(int minute) const
{
    return minute * WeekView::kHourHeight / 60;
}

void HourGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeNowLine();
    emit resized();
}

void HourGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const qint64 todayColumn = m_first.daysTo(m_now.date());
    const bool todayShown = todayColumn >= 0 && todayColumn < 7;
    if (todayShown)
        painter.fillRect(QRect(columnLeft(int(todayColumn)), 0, columnLeft(int(todayColumn) + 1) - columnLeft(int(todayColumn)), height()), kToday);
    const int right = columnLeft(7);
    for (int hour = 0; hour <= 24; ++hour) {
        const int y = minuteTop(hour * 60);
        painter.setPen(kHourLine);
        painter.drawLine(WeekView::kGutter - 4, y, right, y);
        if (hour < 24) {
            painter.setPen(QPen(kHalfLine, 1, Qt::DotLine));
            const int half = minuteTop(hour * 60 + 30);
            painter.drawLine(WeekView::kGutter, half, right, half);
            painter.setPen(palette().color(QPalette::PlaceholderText));
            painter.drawText(QRect(0, y + 1, WeekView::kGutter - 6, lineHeight(this)), Qt::AlignRight | Qt::AlignTop,
                             kHour.arg(hour));
        }
    }
    painter.setPen(kHourLine);
    for (int column = 0; column <= 7; ++column)
        painter.drawLine(columnLeft(column), 0, columnLeft(column), height());
}

void HourGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (at.x() < columnLeft(0) || at.x() >= columnLeft(7) || !m_first.isValid())
        return;
    int column = 0;
    while (column < 6 && at.x() >= columnLeft(column + 1))
        ++column;
    // The half hour clicked in: the form offers quarter hours, and a half hour is easier to hit.
    const int minute = std::clamp(at.y() * 60 / WeekView::kHourHeight, 0, 24 * 60 - 1) / 30 * 30;
    emit slotActivated(m_first.addDays(column), QTime(minute / 60, minute % 60));
}

WeekView::WeekView(QWidget* parent) : PeriodView(parent)
{
    m_heading = new QWidget(this);
    m_heading->setFixedHeight(2 * lineHeight(this) + 6);
    m_band = new QWidget(this);
    auto* allDay = new QLabel(kAllDay, m_band);
    allDay->setTextFormat(Qt::PlainText);
    allDay->setGeometry(0, 2, kGutter - 6, lineHeight(this));
    allDay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_grid = new HourGrid(this);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidget(m_grid);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_heading);
    layout->addWidget(m_band);
    layout->addWidget(m_scroll, 1);
    connect(m_grid, &HourGrid::resized, this, &WeekView::placeTiles);
    connect(m_grid, &HourGrid::slotActivated, this,
            [this](const QDate& date, const QTime& time) { emit newRequested(date, time); });
}

std::pair<QDate, QDate> WeekView::range(const QDate& day, bool sundayFirst) const
{
    const QDate first = weekStart(day, sundayFirst);
    return {first, first.addDays(6)};
}

void WeekView::display(const QDate& day, bool sundayFirst, const std::vector<Appointment>& appointments,
                       const QDateTime& now)
{
    std::tie(m_first, m_last) = range(day, sundayFirst);
    clearTiles();
    m_appointments.clear();
    for (const Appointment& a : appointments) {
        if (a.date >= m_first && a.date <= m_last)
            m_appointments.push_back(a);
    }
    std::ranges::stable_sort(m_appointments, {}, [](const Appointment& a) { return std::tuple(a.date, !a.allDay, a.start); });
    // Appointments that overlap share their day's column, each in a lane of its own.
    m_lanes.assign(m_appointments.size(), {0, 1});
    std::vector<int> laneEnds;
    std::vector<size_t> cluster;
    int clusterEnd = 0;
    auto closeCluster = [&] {
        for (size_t member : cluster)
            m_lanes[member].second = int(laneEnds.size());
        cluster.clear();
        laneEnds.clear();
        clusterEnd = 0;
    };
    for (size_t i = 0; i < m_appointments.size(); ++i) {
        const Appointment& a = m_appointments[i];
        if (a.allDay)
            continue;
        const int start = minuteOfDay(a.start);
        if (!cluster.empty() && (a.date != m_appointments[cluster.front()].date || start >= clusterEnd))
            closeCluster();
        auto lane = std::ranges::find_if(laneEnds, [start](int end) { return end <= start; });
        if (lane == laneEnds.end())
            lane = laneEnds.insert(laneEnds.end(), 0);
        *lane = endMinute(a);
        m_lanes[i].first = int(lane - laneEnds.begin());
        clusterEnd = std::max(clusterEnd, endMinute(a));
        cluster.push_back(i);
    }
    closeCluster();

    for (QDate date = m_first; date <= m_last; date = date.addDays(1)) {
        const int count = int(std::ranges::count_if(m_appointments, [&](const Appointment& a) { return a.date == date; }));
        adopt(new DayHeading(date, date == now.date(), count, m_heading));
        for (const Appointment& a : m_appointments) {
            if (a.date == date)
                adopt(new AppointmentTile(a, a.allDay ? AppointmentTile::Look::Line : AppointmentTile::Look::Block,
                                          a.allDay ? m_band : static_cast<QWidget*>(m_grid)));
        }
    }
    // After the blocks, so that the line of the time lies over them.
    m_grid->setWeek(m_first, now);
    placeTiles();
}

void WeekView::placeTiles()
{
    const int line = lineHeight(this);
    int bandRows = 1;
    std::map<QDate, int> rows;
    size_t block = 0;
    for (Tile* tile : tiles()) {
        const int column = int(m_first.daysTo(tile->date()));
        const int left = m_grid->columnLeft(column);
        const int width = m_grid->columnLeft(column + 1) - left;
        if (tile->kind() == Tile::Kind::Day) {
            tile->setGeometry(left, 0, width, m_heading->height());
            continue;
        }
        // An appointment that lasts several days has a tile on each: the day tells them apart.
        while (block < m_appointments.size() && (m_appointments[block].id != tile->id() || m_appointments[block].date != tile->date()))
            ++block;
        const Appointment& a = m_appointments[block];
        if (a.allDay) {
            const int row = rows[a.date]++;
            bandRows = std::max(bandRows, row + 1);
            tile->setGeometry(left + 1, 2 + row * line, width - 2, line);
            continue;
        }
        const auto [lane, lanes] = m_lanes[block];
        const int inner = width - 4;
        const int top = m_grid->minuteTop(minuteOfDay(a.start)) + 1;
        const int bottom = m_grid->minuteTop(endMinute(a));
        // A block has room for a line of text at least, but never runs past midnight.
        const int height = std::max(bottom - top, std::min(line, m_grid->minuteTop(24 * 60) - top));
        tile->setGeometry(left + 2 + inner * lane / lanes, top, inner / lanes - 1, height);
    }
    m_band->setFixedHeight(bandRows * line + 4);
}

void WeekView::setNow(const QDateTime& now)
{
    m_grid->setWeek(m_first, now);
}

QList<Tile*> WeekView::dayParts(const QDate& date) const
{
    QList<Tile*> parts;
    for (Tile* tile : tiles()) {
        if (tile->date() == date)
            parts << tile;
    }
    return parts;
}

void WeekView::focusedTile(Tile* tile)
{
    if (tile->parentWidget() == m_grid)
        m_scroll->ensureWidgetVisible(tile, 0, lineHeight(this));
}

void WeekView::showEvent(QShowEvent* event)
{
    PeriodView::showEvent(event);
    if (m_scrolledToMorning)
        return;
    m_scrolledToMorning = true;
    m_scroll->verticalScrollBar()->setValue(m_grid->minuteTop(kMorningHour * 60));
}

// The month.

MonthView::MonthView(QWidget* parent) : PeriodView(parent) {}

std::pair<QDate, QDate> MonthView::range(const QDate& day, bool sundayFirst) const
{
    const QDate first = weekStart(QDate(day.year(), day.month(), 1), sundayFirst);
    return {first, first.addDays(6 * 7 - 1)};
}

void MonthView::display(const QDate& day, bool sundayFirst, const std::vector<Appointment>& appointments,
                        const QDateTime& now)
{
    std::tie(m_first, m_last) = range(day, sundayFirst);
    m_sundayFirst = sundayFirst;
    clearTiles();
    auto next = appointments.begin();
    for (QDate date = m_first; date <= m_last; date = date.addDays(1)) {
        std::vector<Appointment> ofDay;
        // The appointments come in the order of their dates.
        for (; next != appointments.end() && next->date <= date; ++next) {
            if (next->date == date)
                ofDay.push_back(*next);
        }
        std::ranges::stable_partition(ofDay, [](const Appointment& a) { return a.allDay; });
        auto* cell = new MonthDay(date, date.month() == day.month(), date == now.date(), std::move(ofDay), this);
        adopt(cell);
        for (Tile* part : cell->parts())
            adopt(part);
    }
    placeDays();
    update();
}

int MonthView::headingHeight() const
{
    return lineHeight(this) + 6;
}

void MonthView::placeDays()
{
    const int top = headingHeight();
    int index = 0;
    for (Tile* tile : tiles()) {
        if (tile->kind() != Tile::Kind::Day)
            continue;
        // One pixel at the left and the top for the grid's outer lines; each day draws its right
        // and bottom ones.
        const int column = index % 7;
        const int row = index / 7;
        const int left = 1 + (width() - 1) * column / 7;
        const int y = top + 1 + (height() - top - 1) * row / 6;
        tile->setGeometry(left, y, 1 + (width() - 1) * (column + 1) / 7 - left, top + 1 + (height() - top - 1) * (row + 1) / 6 - y);
        ++index;
    }
}

void MonthView::resizeEvent(QResizeEvent* event)
{
    PeriodView::resizeEvent(event);
    placeDays();
}

void MonthView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int top = headingHeight();
    painter.fillRect(QRect(0, 0, width(), top), palette().color(QPalette::Window));
    painter.setPen(QColor(0xd4, 0xd4, 0xd4));
    painter.drawLine(0, top, width(), top);
    painter.drawLine(0, top, 0, height());
    for (int column = 0; column < 7; ++column) {
        const QDate date = m_first.isValid() ? m_first.addDays(column) : weekStart(QDate(2000, 1, 3), m_sundayFirst);
        // The weekday's own colour: a holiday in the first row must not turn its column red.
        const int weekday = date.dayOfWeek();
        painter.setPen(weekday == Qt::Sunday ? holidayColour() : weekday == Qt::Saturday ? saturdayColour()
                                                                                         : palette().color(QPalette::WindowText));
        const int left = 1 + (width() - 1) * column / 7;
        painter.drawText(QRect(left, 0, 1 + (width() - 1) * (column + 1) / 7 - left, top), Qt::AlignCenter,
                         weekdayName(date));
    }
}

QList<Tile*> MonthView::dayParts(const QDate& date) const
{
    QList<Tile*> parts;
    for (Tile* tile : tiles()) {
        if (tile->date() == date && (tile->kind() == Tile::Kind::Day || !tile->isHidden()))
            parts << tile;
    }
    return parts;
}

} // namespace schedule

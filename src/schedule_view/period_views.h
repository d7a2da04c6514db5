#pragma once

#include "schedule_view/schedule_data.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QWidget>

#include <optional>
#include <vector>

class QScrollArea;

namespace schedule {

class Tile;

// What the week and the month have in common: the days from first() to last() drawn from the
// appointments given, and the tiles the keyboard walks through. The window reads the table and
// opens the forms; the views only say what the user asked for.
class PeriodView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The days the view shows for the period that holds day.
    virtual std::pair<QDate, QDate> range(const QDate& day, bool sundayFirst) const = 0;
    // Draws the period that holds day anew.
    virtual void display(const QDate& day, bool sundayFirst, const std::vector<Appointment>& appointments,
                         const QDateTime& now) = 0;
    // Follows the clock within the same day: the line of the time.
    virtual void setNow(const QDateTime& now) = 0;

    QDate first() const { return m_first; }
    QDate last() const { return m_last; }
    // Every tile, in the order Tab walks through them.
    const QList<Tile*>& tiles() const { return m_tiles; }
    Tile* dayTile(const QDate& date) const;
    Tile* appointmentTile(qint64 id) const;

signals:
    void newRequested(const QDate& date, std::optional<QTime> time);
    void changeRequested(qint64 id);
    void deleteRequested(qint64 id);
    // The keyboard left the period: the window turns to the one that holds date.
    void dateRequested(const QDate& date);
    // "他N件": the week of date, with the focus on the appointment id.
    void dayOpened(const QDate& date, qint64 id);

protected:
    // Drops the tiles of the period before.
    void clearTiles();
    // Takes a tile into the keyboard's walk, after those taken before.
    void adopt(Tile* tile);
    // The tiles of one day that the arrow keys walk through, the day's own first.
    virtual QList<Tile*> dayParts(const QDate& date) const = 0;
    // How many days Up and Down move from the first or last part of a day (0: they stop there).
    virtual int rowDays() const = 0;
    virtual void focusedTile(Tile*) {}

    QDate m_first;
    QDate m_last;

private:
    void step(Tile* from, int key);
    void activate(Tile* tile);

    QList<Tile*> m_tiles;
};

class HourGrid;

// Seven days side by side, the hours of the day from top to bottom.
class WeekView : public PeriodView {
    Q_OBJECT
public:
    explicit WeekView(QWidget* parent = nullptr);

    std::pair<QDate, QDate> range(const QDate& day, bool sundayFirst) const override;
    void display(const QDate& day, bool sundayFirst, const std::vector<Appointment>& appointments,
                 const QDateTime& now) override;
    void setNow(const QDateTime& now) override;

    HourGrid* grid() const { return m_grid; }
    QScrollArea* scrollArea() const { return m_scroll; }

    static constexpr int kHourHeight = 42;
    static constexpr int kGutter = 48;
    // The hour the view opens on: the working morning.
    static constexpr int kMorningHour = 8;

protected:
    QList<Tile*> dayParts(const QDate& date) const override;
    int rowDays() const override { return 0; }
    void focusedTile(Tile* tile) override;
    void showEvent(QShowEvent* event) override;

private:
    void placeTiles();

    QWidget* m_heading = nullptr;
    QWidget* m_band = nullptr;
    QScrollArea* m_scroll = nullptr;
    HourGrid* m_grid = nullptr;
    std::vector<Appointment> m_appointments;
    // Each appointment's lane and the number of lanes it shares with those it overlaps.
    std::vector<std::pair<int, int>> m_lanes;
    bool m_scrolledToMorning = false;
};

// The hours behind the blocks of a week: lines, hour names, today's column and the time now.
class HourGrid : public QWidget {
    Q_OBJECT
public:
    explicit HourGrid(QWidget* parent);
    void setWeek(const QDate& first, const QDateTime& now);
    // The left edge of day column (0 to 6), and of the gutter's end for column 7.
    int columnLeft(int column) const;
    // The height of the day up to a minute of it.
    int minuteTop(int minute) const;

signals:
    void slotActivated(const QDate& date, const QTime& time);
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeNowLine();

    QDate m_first;
    QDateTime m_now;
    QWidget* m_nowLine = nullptr;
};

// Six weeks of seven days around a month.
class MonthView : public PeriodView {
    Q_OBJECT
public:
    explicit MonthView(QWidget* parent = nullptr);

    std::pair<QDate, QDate> range(const QDate& day, bool sundayFirst) const override;
    void display(const QDate& day, bool sundayFirst, const std::vector<Appointment>& appointments,
                 const QDateTime& now) override;
    void setNow(const QDateTime&) override {}

protected:
    QList<Tile*> dayParts(const QDate& date) const override;
    int rowDays() const override { return 7; }
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int headingHeight() const;
    void placeDays();

    bool m_sundayFirst = false;
};

// The first day of the week that holds day: its Monday, or its Sunday when weeks start then.
QDate weekStart(const QDate& day, bool sundayFirst);

} // namespace schedule

#pragma once

#include "schedule_view/schedule_data.h"

#include <QDate>
#include <QWidget>

#include <vector>

namespace schedule {

// A piece of a view that the keyboard and a screen reader reach: a day, an appointment, or the
// line that stands for the appointments a full day has no room for. Each has the name a screen
// reader speaks; Enter or a double click opens it, Delete asks to delete an appointment, and the
// arrow keys are handed to the view, which knows where the neighbours are.
class Tile : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Day, Appointment, More };
    Tile(Kind kind, const QDate& date, QWidget* parent);

    Kind kind() const { return m_kind; }
    QDate date() const { return m_date; }
    // The appointment it shows, or for the line of the rest the first of those.
    qint64 id() const { return m_id; }
    void setId(qint64 id) { m_id = id; }

signals:
    void activated(schedule::Tile* tile);
    void deleteRequested(schedule::Tile* tile);
    void stepRequested(schedule::Tile* tile, int key);
    void focused(schedule::Tile* tile);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // The frame every tile draws around itself while it has the focus.
    void paintFocus(QPainter& painter) const;

private:
    Kind m_kind;
    QDate m_date;
    qint64 m_id = 0;
};

// A day's heading in the week: date, weekday and holiday, in the day's colour, today marked.
class DayHeading : public Tile {
    Q_OBJECT
public:
    DayHeading(const QDate& date, bool today, int count, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_today;
};

// An appointment drawn as a block in the hours, as a line in a month's day, or in the band of
// days without a time.
class AppointmentTile : public Tile {
    Q_OBJECT
public:
    enum class Look { Block, Line };
    AppointmentTile(const Appointment& appointment, Look look, QWidget* parent);
    const Appointment& appointment() const { return m_appointment; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Appointment m_appointment;
    Look m_look;
};

// One day of the month: its number and holiday on top, then as many of its appointments as the
// cell has room for and "他N件" for the rest.
class MonthDay : public Tile {
    Q_OBJECT
public:
    MonthDay(const QDate& date, bool inMonth, bool today, std::vector<Appointment> appointments, QWidget* parent);

    // The day's tiles in keyboard order, those without room hidden.
    const std::vector<Tile*>& parts() const { return m_parts; }
    // How many appointments have a line of their own now.
    int shownCount() const { return m_shown; }

    // A line is made for at most this many appointments of a day; no cell is tall enough for more.
    static constexpr int kMostLines = 24;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeLines();

    bool m_inMonth;
    bool m_today;
    std::vector<Appointment> m_appointments;
    std::vector<Tile*> m_parts; // the lines of the appointments, then the line of the rest
    Tile* m_more = nullptr;
    int m_shown = 0;
};

// The line of the rest: "他N件".
class MoreLine : public Tile {
    Q_OBJECT
public:
    MoreLine(const QDate& date, QWidget* parent);
    void setRest(int count, qint64 firstId);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_rest = 0;
};

// The height of one line of text in a tile.
int lineHeight(const QWidget* widget);

} // namespace schedule

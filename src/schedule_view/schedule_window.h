#pragma once

#include "state/module1.h"

#include <QDate>
#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <optional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace schedule {
class PeriodView;
class MonthView;
class WeekView;
} // namespace schedule

// The appointments of a week or a month at a glance, national holidays marked. A window of its
// own beside the main window: it stays open while the others are used, and is drawn again
// whenever the appointments may have changed.
class ScheduleWindow : public QWidget {
    Q_OBJECT
public:
    enum class View { Week, Month };

    ScheduleWindow(state::Module1& module, QWidget* parent = nullptr);

    // Reads the appointments of the days shown again, and today and the time from the clock. The
    // main window calls it after each of its windows closes, when the day turns and after a sync.
    void refresh();

    View view() const { return m_view; }
    void showView(View view);
    // The week or month that holds date, the focus on that day when it was in the view.
    void goTo(const QDate& date);
    // The period before (-1) or after (+1).
    void turn(int direction);

signals:
    // Something was added, changed or deleted here; the main window counts today's again.
    void rowsChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    schedule::PeriodView* current() const;
    // Draws the period that holds m_anchor; the focus stays on what it was on, where that is still
    // shown, or goes to focusDay.
    void draw(std::optional<QDate> focusDay = std::nullopt, std::optional<qint64> focusId = std::nullopt);
    void showPeriod();
    void minutePassed();
    void openNew(const QDate& date, std::optional<QTime> time);
    void openChange(qint64 id);
    void remove(qint64 id);
    void changed();

    state::Module1& m_module;
    View m_view = View::Week;
    bool m_sundayFirst = false;
    bool m_opened = false;
    QDate m_anchor;
    QDate m_today;
    QTimer m_minute;

    QPushButton* m_previous = nullptr;
    QPushButton* m_todayButton = nullptr;
    QPushButton* m_next = nullptr;
    QLabel* m_period = nullptr;
    QCheckBox* m_sundayBox = nullptr;
    QPushButton* m_weekButton = nullptr;
    QPushButton* m_monthButton = nullptr;
    QStackedWidget* m_stack = nullptr;
    schedule::WeekView* m_week = nullptr;
    schedule::MonthView* m_month = nullptr;
};

#include "schedule_view/schedule_window.h"

#include "plan_entry/plan_frm.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/message_box.h"
#include "schedule_view/period_views.h"
#include "schedule_view/schedule_data.h"
#include "schedule_view/schedule_tiles.h"
#include "series_question/series_question.h"
#include "store/plan_store.h"
#include "store/series_store.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
const QString kCaption = QStringLiteral("予定表");
const QString kPrevious = QStringLiteral("前へ");
const QString kToday = QStringLiteral("今日");
const QString kNext = QStringLiteral("次へ");
const QString kWeek = QStringLiteral("週");
const QString kMonth = QStringLiteral("月");
const QString kSundayFirst = QStringLiteral("日曜始まり");
const QString kMonthPeriod = QStringLiteral("%1年%2月");
const QString kDeleteQuestion = QStringLiteral("この予定を削除しますか？");
const QString kDeleteTitle = QStringLiteral("削除確認");
const QString kWeekSetting = QStringLiteral("week");
const QString kMonthSetting = QStringLiteral("month");
const QString kSundaySetting = QStringLiteral("sunday");
const QString kMondaySetting = QStringLiteral("monday");

constexpr int kWidth = 980;
constexpr int kHeight = 700;
constexpr int kMinuteMs = 60 * 1000;

QString dayText(const QDate& date, bool withYear)
{
    return (withYear ? QStringLiteral("%1年").arg(date.year()) : QString())
           + QStringLiteral("%1月%2日").arg(date.month()).arg(date.day());
}
} // namespace

ScheduleWindow::ScheduleWindow(state::Module1& module, QWidget* parent) : QWidget(parent, Qt::Window), m_module(module)
{
    setObjectName(QStringLiteral("ScheduleWindow"));
    setWindowTitle(kCaption);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setMinimumSize(640, 480);

    auto button = [this](const char* name, const QString& text) {
        auto* made = new QPushButton(text, this);
        made->setObjectName(QLatin1String(name));
        return made;
    };
    m_previous = button("previousButton", kPrevious);
    m_todayButton = button("todayButton", kToday);
    m_next = button("nextButton", kNext);
    m_period = new QLabel(this);
    m_period->setObjectName(QStringLiteral("periodLabel"));
    m_period->setTextFormat(Qt::PlainText);
    QFont large = m_period->font();
    large.setPointSizeF(large.pointSizeF() * 1.25);
    large.setBold(true);
    m_period->setFont(large);
    m_sundayBox = new QCheckBox(kSundayFirst, this);
    m_sundayBox->setObjectName(QStringLiteral("sundayFirstBox"));
    m_weekButton = button("weekButton", kWeek);
    m_monthButton = button("monthButton", kMonth);
    auto* views = new QButtonGroup(this);
    for (QPushButton* choice : {m_weekButton, m_monthButton}) {
        choice->setCheckable(true);
        views->addButton(choice);
    }
    views->setExclusive(true);

    m_week = new schedule::WeekView(this);
    m_week->setObjectName(QStringLiteral("weekView"));
    m_month = new schedule::MonthView(this);
    m_month->setObjectName(QStringLiteral("monthView"));
    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_week);
    m_stack->addWidget(m_month);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_previous);
    bar->addWidget(m_todayButton);
    bar->addWidget(m_next);
    bar->addSpacing(12);
    bar->addWidget(m_period);
    bar->addStretch(1);
    bar->addWidget(m_sundayBox);
    bar->addSpacing(12);
    bar->addWidget(m_weekButton);
    bar->addWidget(m_monthButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_stack, 1);

    connect(m_previous, &QPushButton::clicked, this, [this] { turn(-1); });
    connect(m_next, &QPushButton::clicked, this, [this] { turn(1); });
    connect(m_todayButton, &QPushButton::clicked, this, [this] { goTo(platform::Clock::now().date()); });
    connect(m_weekButton, &QPushButton::clicked, this, [this] { showView(View::Week); });
    connect(m_monthButton, &QPushButton::clicked, this, [this] { showView(View::Month); });
    connect(m_sundayBox, &QCheckBox::toggled, this, [this](bool on) {
        m_sundayFirst = on;
        draw();
    });
    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::Key_PageUp), [this] { turn(-1); }},
        {QKeySequence(Qt::Key_PageDown), [this] { turn(1); }},
        {QKeySequence(Qt::Key_Home), [this] { goTo(platform::Clock::now().date()); }}};
    for (const auto& [key, action] : keys)
        connect(new QShortcut(key, this), &QShortcut::activated, this, action);

    // Queued: each of these ends in drawing the view anew, which replaces the tile that asked.
    for (schedule::PeriodView* view : {static_cast<schedule::PeriodView*>(m_week), static_cast<schedule::PeriodView*>(m_month)}) {
        connect(view, &schedule::PeriodView::newRequested, this, &ScheduleWindow::openNew, Qt::QueuedConnection);
        connect(view, &schedule::PeriodView::changeRequested, this, &ScheduleWindow::openChange, Qt::QueuedConnection);
        connect(view, &schedule::PeriodView::deleteRequested, this, &ScheduleWindow::remove, Qt::QueuedConnection);
        connect(view, &schedule::PeriodView::dateRequested, this, [this](const QDate& date) {
            m_anchor = date;
            draw(date);
        }, Qt::QueuedConnection);
        connect(view, &schedule::PeriodView::dayOpened, this, [this](const QDate& date, qint64 id) {
            m_anchor = date;
            m_view = View::Week;
            draw(date, id);
        }, Qt::QueuedConnection);
    }

    m_minute.setInterval(kMinuteMs);
    connect(&m_minute, &QTimer::timeout, this, &ScheduleWindow::minutePassed);
    // Goes when the main window goes: the database goes with it.
    if (parent)
        parent->installEventFilter(this);

    m_anchor = m_today = platform::Clock::now().date();
    m_view = state::readSetting(state::kScheduleView) == kMonthSetting ? View::Month : View::Week;
    m_sundayFirst = state::readSetting(state::kScheduleWeekStart) == kSundaySetting;
    m_sundayBox->setChecked(m_sundayFirst);
    showPeriod();
    if (!restoreGeometry(QByteArray::fromBase64(state::readSetting(state::kScheduleGeometry).toLatin1())))
        resize(kWidth, kHeight);
}

schedule::PeriodView* ScheduleWindow::current() const
{
    return m_view == View::Week ? static_cast<schedule::PeriodView*>(m_week) : m_month;
}

void ScheduleWindow::refresh()
{
    draw();
}

void ScheduleWindow::showView(View view)
{
    // Read before the other view hides the tile that has the focus.
    const auto* tile = qobject_cast<schedule::Tile*>(focusWidget());
    const std::optional<QDate> day = tile ? std::optional(tile->date()) : std::nullopt;
    m_view = view;
    draw(day);
}

void ScheduleWindow::goTo(const QDate& date)
{
    m_anchor = date;
    const auto* tile = qobject_cast<schedule::Tile*>(focusWidget());
    draw(tile ? std::optional(date) : std::nullopt);
}

void ScheduleWindow::turn(int direction)
{
    // From the day the user is on, when the focus is on one.
    const auto* tile = qobject_cast<schedule::Tile*>(focusWidget());
    const QDate from = tile ? tile->date() : m_anchor;
    m_anchor = m_view == View::Week ? from.addDays(7 * direction) : from.addMonths(direction);
    draw(tile ? std::optional(m_anchor) : std::nullopt);
}

void ScheduleWindow::draw(std::optional<QDate> focusDay, std::optional<qint64> focusId)
{
    const QDateTime now = platform::Clock::now();
    m_today = now.date();
    if (const auto* tile = qobject_cast<schedule::Tile*>(focusWidget()); tile && !focusDay) {
        focusDay = tile->date();
        if (tile->kind() == schedule::Tile::Kind::Appointment)
            focusId = tile->id();
    }
    schedule::PeriodView* view = current();
    showPeriod();
    const auto [first, last] = view->range(m_anchor, m_sundayFirst);
    std::vector<schedule::Appointment> appointments;
    // A table that cannot be read is reported, and the days are still drawn without appointments.
    platform::reported(this, [&] { appointments = schedule::loadRange(m_module.db(), first, last); });
    view->display(m_anchor, m_sundayFirst, appointments, now);
    if (!focusDay)
        return;
    schedule::Tile* target = focusId ? view->appointmentTile(*focusId) : nullptr;
    if (!target)
        target = view->dayTile(*focusDay);
    if (!target)
        target = view->dayTile(m_anchor);
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}

void ScheduleWindow::showPeriod()
{
    m_stack->setCurrentWidget(current());
    m_weekButton->setChecked(m_view == View::Week);
    m_monthButton->setChecked(m_view == View::Month);
    const auto [first, last] = current()->range(m_anchor, m_sundayFirst);
    if (m_view == View::Month)
        m_period->setText(kMonthPeriod.arg(m_anchor.year()).arg(m_anchor.month()));
    else
        m_period->setText(dayText(first, true) + QStringLiteral("〜") + dayText(last, last.year() != first.year()));
}

void ScheduleWindow::minutePassed()
{
    const QDateTime now = platform::Clock::now();
    if (now.date() != m_today)
        refresh();
    else
        current()->setNow(now);
}

void ScheduleWindow::openNew(const QDate& date, std::optional<QTime> time)
{
    {
        PLAN_FRM form(m_module, this);
        if (form.prepareAt(date, time))
            form.exec();
    }
    changed();
}

void ScheduleWindow::openChange(qint64 id)
{
    std::optional<store::StoredRow> row;
    if (!platform::reported(this, [&] { row = schedule::loadRow(m_module.db(), id); }))
        return;
    // A row another program deleted meanwhile is simply no longer drawn.
    if (row) {
        PLAN_FRM form(m_module, this);
        if (form.prepareChange(*row))
            form.exec();
    }
    changed();
}

void ScheduleWindow::remove(qint64 id)
{
    std::optional<store::Membership> member;
    if (!platform::reported(this, [&] { member = store::membershipOf(m_module.db(), id); }))
        return;
    if (member) {
        // An occurrence: this one, the later ones or all, as other calendars ask.
        const std::optional<store::Scope> scope = series_question::ask(this, true);
        if (scope && platform::reported(this, [&] { store::deleteOccurrence(m_module.db(), id, *scope, platform::Clock::now().date()); }))
            changed();
        return;
    }
    if (!platform::askYesNo(this, kDeleteQuestion, kDeleteTitle, platform::MsgAnswer::Yes))
        return;
    // By its identity: a twin with the same texts stays.
    if (platform::reported(this, [&] { store::remove(m_module.db(), id); }))
        changed();
}

void ScheduleWindow::changed()
{
    refresh();
    emit rowsChanged();
}

void ScheduleWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_minute.start();
    // The window opens with the focus on today, from where the keys reach every appointment.
    if (!m_opened)
        draw(m_anchor);
    else
        refresh();
    m_opened = true;
}

void ScheduleWindow::hideEvent(QHideEvent* event)
{
    m_minute.stop();
    QWidget::hideEvent(event);
}

bool ScheduleWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Close)
        close();
    return QWidget::eventFilter(watched, event);
}

void ScheduleWindow::closeEvent(QCloseEvent* event)
{
    // The size, place and view are a convenience: a store that cannot take them now costs only
    // the defaults next time, so no box holds up a window that is closing.
    try {
        state::writeSettings({{state::kScheduleGeometry, QString::fromLatin1(saveGeometry().toBase64())},
                              {state::kScheduleView, m_view == View::Month ? kMonthSetting : kWeekSetting},
                              {state::kScheduleWeekStart, m_sundayFirst ? kSundaySetting : kMondaySetting}});
    } catch (const platform::Failure&) {
    }
    event->accept();
}

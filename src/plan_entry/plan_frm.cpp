#include "plan_entry/plan_frm.h"

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/message_box.h"
#include "platform/window_style.h"
#include "schedule_view/calendar_marks.h"
#include "state/text.h"
#include "series_question/series_question.h"
#include "store/plan_store.h"
#include "store/reminder_state.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>


namespace {
const QString kCaption = QStringLiteral("予定設定");
const QString kDateCaption = QStringLiteral("予定日時　：");
const QString kHour = QStringLiteral("時");
const QString kMinute = QStringLiteral("分");
const QString kImportance = QStringLiteral("重要度");
const QString kImportanceNames[3] = {QStringLiteral("高"), QStringLiteral("中"), QStringLiteral("低")};
const QString kDetails = QStringLiteral("詳細");
const QString kDetail = QStringLiteral("用件　：");
const QString kPlace = QStringLiteral("場所　：");
const QString kNotice = QStringLiteral("備考　：");
const QString kOk = QStringLiteral("予定設定");
const QString kClose = QStringLiteral("閉じる");
const QString kNoDetail = QStringLiteral("用件を入力して下さい。");
const QString kNoDetailTitle = QStringLiteral("入力ｴﾗｰ");
const QString kDuplicate = QStringLiteral("同じ用件が存在します。");
const QString kDuplicateTitle = QStringLiteral("ﾃﾞｰﾀ重複ｴﾗｰ");
const QString kCloseQuestion = QStringLiteral("予定を登録せずに終了しますか？");
const QString kCloseTitle = QStringLiteral("終了確認");
const QString kSetUpErrorTitle = QStringLiteral("PG-Error");
const QString kChangeCaption = QStringLiteral("予定変更");
const QString kChange = QStringLiteral("変更");
const QString& kGone = store::kRowGone;
const QString kChangedMeanwhile = QStringLiteral("この予定はほかのプログラムで変更されたため、変更できません。"
                                                 "予定を開き直してください。");
const QString kEndCaption = QStringLiteral("終了：");
const QString kAllDay = QStringLiteral("終日(&A)");
const QString kPastDate = QStringLiteral("過去の日付には登録できません。");
const QString kEndBeforeStart = QStringLiteral("終了時刻が開始時刻より前です。");
const QString kRepeatCaption = QStringLiteral("繰り返し：");
const QString kRepeatEndCaption = QStringLiteral("期限：");
const QString kRepeatCountUnit = QStringLiteral("回");
const QString kOtherRule = QStringLiteral("（ほかの規則）");
const QString kUntilBeforeStart = QStringLiteral("繰り返しの期限が開始日より前です。");

const QString kRemind = QStringLiteral("お知らせ：");
const QString kRemindDefault = QStringLiteral("既定（%1）");
const QString kRemindNever = QStringLiteral("しない");
const QString kRemindAtTime = QStringLiteral("時刻ちょうど");
const QString kRemindMinutes = QStringLiteral("%1分前");
const QString kRemindHour = QStringLiteral("1時間前");
const QString kRemindDayBefore = QStringLiteral("前日（同じ時刻）");
constexpr int kRemindChoices[] = {store::kRemindNever, 0, 5, 10, 15, 30, 60, store::kRemindDayBefore};

// How a lead reads in the list: "しない", "時刻ちょうど", "10分前", "1時間前", "前日（同じ時刻）".
QString leadCaption(int minutes)
{
    if (minutes < 0)
        return kRemindNever;
    if (minutes == 0)
        return kRemindAtTime;
    if (minutes == 60)
        return kRemindHour;
    if (minutes == store::kRemindDayBefore)
        return kRemindDayBefore;
    return kRemindMinutes.arg(minutes);
}

constexpr double kFieldPoints = 9.75;
constexpr int kFieldCapacity = 1024;
constexpr int kMediumImportance = 1;
const QString kMinutes[] = {QStringLiteral("00"), QStringLiteral("15"), QStringLiteral("30"), QStringLiteral("45")};

bool isEnter(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
} // namespace

PLAN_FRM::PLAN_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("PLAN_FRM"));
    setWindowTitle(kCaption);
    // 249 pixels high as designed, and a row more each for the reminder time and the repeat.
    platform::makeFixedDialog(this, 533, 249 + 33 + 33);
    buildLayout();
}

void PLAN_FRM::buildLayout()
{
    const QFont fieldFont = platform::msPGothic(kFieldPoints);
    auto label = [](QWidget* parent, const char* name, const QString& text, int left, int top, int width, int height,
                    bool sizedToText) {
        auto* result = platform::control<QLabel>(parent, name, left, top, width, height);
        if (sizedToText)
            platform::setLabelText(result, text);
        else
            result->setText(text);
        return result;
    };
    auto list = [this, &fieldFont](const char* name, int left, int top = 32) {
        auto* result = platform::control<QComboBox>(this, name, left, top, 49, 21);
        result->setEditable(false);
        result->setFont(fieldFont);
        return result;
    };
    auto field = [&fieldFont](QWidget* parent, const char* name, int top) {
        auto* result = platform::control<QLineEdit>(parent, name, 64, top, 433, 22);
        result->setFont(fieldFont);
        // The table decides how long a text may be: a longer one is refused when the row is
        // stored, and the user keeps what was typed. The field's own bound lies well above the
        // table's and only keeps a pasted flood of text from stalling the window.
        result->setMaxLength(kFieldCapacity);
        // The input method follows the user's own choice here; there is nothing to switch.
        result->setInputMethodHints(Qt::ImhNone);
        return result;
    };

    Label1 = label(this, "Label1", kDateCaption, 16, 16, 62, 12, true);

    DATE_DTP = platform::control<QDateEdit>(this, "DATE_DTP", 16, 32, 129, 23);
    DATE_DTP->setCalendarPopup(true);
    // Written out, never through the locale, so the picker reads like the stored dates.
    DATE_DTP->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    DATE_DTP->setFont(fieldFont);
    schedule::markHolidays(DATE_DTP->calendarWidget());
    Label1->setBuddy(DATE_DTP);

    HOUR_LST = list("HOUR_LST", 152);
    Label9 = label(this, "Label9", kHour, 208, 40, 12, 12, true);
    MIN_LST = list("MIN_LST", 224);
    Label10 = label(this, "Label10", kMinute, 280, 40, 12, 12, true);
    HOUR_LST->setAccessibleName(kHour);
    MIN_LST->setAccessibleName(kMinute);

    Frame1 = platform::control<QGroupBox>(this, "Frame1", 384, 16, 137, 49);
    Frame1->setTitle(kImportance);
    m_impoGroup = new QButtonGroup(this);
    m_impoGroup->setExclusive(true);
    for (int i = 0; i < 3; ++i) {
        IMPO_OPT[i] = new QRadioButton(kImportanceNames[i], Frame1);
        IMPO_OPT[i]->setObjectName(QStringLiteral("IMPO_OPT_%1").arg(i));
        platform::place(IMPO_OPT[i], 8 + 40 * i, 16, 41, 25);
        m_impoGroup->addButton(IMPO_OPT[i], i);
        // Selecting an option counts as input whoever selects it, the set-up included.
        connect(IMPO_OPT[i], &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                EDIT_FLAG = true;
        });
    }

    Frame3 = platform::control<QGroupBox>(this, "Frame3", 16, 72, 505, 129);
    Frame3->setTitle(kDetails);
    Label2 = label(Frame3, "Label2", kDetail, 16, 32, 38, 12, true);
    DETAIL_TEXT = field(Frame3, "DETAIL_TEXT", 24);
    Label6 = label(Frame3, "Label6", kPlace, 16, 64, 41, 17, false);
    PLACE_TEXT = field(Frame3, "PLACE_TEXT", 56);
    Label8 = label(Frame3, "Label8", kNotice, 16, 96, 41, 17, false);
    NOTICE_TEXT = field(Frame3, "NOTICE_TEXT", 88);
    Label2->setBuddy(DETAIL_TEXT);
    Label6->setBuddy(PLACE_TEXT);
    Label8->setBuddy(NOTICE_TEXT);
    for (QLineEdit* text : {DETAIL_TEXT, PLACE_TEXT, NOTICE_TEXT}) {
        // Every change counts, the program's own emptying after a save included.
        connect(text, &QLineEdit::textChanged, this, [this] { EDIT_FLAG = true; });
    }

    // Added after the original controls, in a row of its own under the buttons' row.
    REMIND_LABEL = label(this, "REMIND_LABEL", kRemind, 16, 256, 60, 12, true);
    REMIND_LST = platform::control<QComboBox>(this, "REMIND_LST", 80, 252, 137, 22);
    REMIND_LST->setEditable(false);
    REMIND_LST->setFont(fieldFont);
    REMIND_LABEL->setBuddy(REMIND_LST);

    OK_BTN = platform::control<QPushButton>(this, "OK_BTN", 304, 216, 104, 25);
    OK_BTN->setText(kOk);
    CLOSE_BTN = platform::control<QPushButton>(this, "CLOSE_BTN", 424, 216, 97, 25);
    CLOSE_BTN->setText(kClose);
    // Neither button is ever the dialog's default: otherwise an Enter in the date picker or a
    // list would save, and the Enter that walks from the notice to OK_BTN would press it as
    // well. The event filter lets Enter press whichever button has the focus instead.
    for (QPushButton* button : {OK_BTN, CLOSE_BTN}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(OK_BTN, &QPushButton::clicked, this, &PLAN_FRM::OK_BTN_Click);
    connect(CLOSE_BTN, &QPushButton::clicked, this, &QWidget::close);

    // The end, beside the buttons, under the window's own controls.
    m_endCaption = label(this, "END_LABEL", kEndCaption, 16, 220, 36, 12, true);
    m_endHourList = list("END_HOUR_LST", 52, 216);
    m_endHourUnit = label(this, "END_HOUR_LABEL", kHour, 104, 220, 12, 12, true);
    m_endMinuteList = list("END_MIN_LST", 120, 216);
    m_endMinuteUnit = label(this, "END_MIN_LABEL", kMinute, 172, 220, 12, 12, true);
    m_endHourList->setAccessibleName(kEndCaption + kHour);
    m_endMinuteList->setAccessibleName(kEndCaption + kMinute);
    m_endCaption->setBuddy(m_endHourList);
    m_allDay = platform::control<QCheckBox>(this, "ALL_DAY_CHK", 196, 216, 96, 21);
    m_allDay->setText(kAllDay);
    connect(m_allDay, &QCheckBox::toggled, this, &PLAN_FRM::allDayToggled);

    // The repeat, on a row of its own under the end.
    m_repeatCaption = label(this, "REPEAT_LABEL", kRepeatCaption, 16, 289, 60, 12, true);
    m_repeatList = platform::control<QComboBox>(this, "REPEAT_LST", 80, 285, 150, 21);
    m_repeatList->setFont(fieldFont);
    m_repeatCaption->setBuddy(m_repeatList);
    m_repeatEndCaption = label(this, "REPEAT_END_LABEL", kRepeatEndCaption, 240, 289, 36, 12, true);
    m_repeatEndList = platform::control<QComboBox>(this, "REPEAT_END_LST", 276, 285, 64, 21);
    m_repeatEndList->setFont(fieldFont);
    m_repeatEndList->addItems(recurrence::kEndingCaptions);
    m_repeatEndCaption->setBuddy(m_repeatEndList);
    m_repeatCount = platform::control<QSpinBox>(this, "REPEAT_COUNT_SPN", 346, 285, 52, 21);
    m_repeatCount->setRange(1, recurrence::kMaxOccurrences);
    m_repeatCount->setAccessibleName(kRepeatCountUnit);
    m_repeatCountUnit = label(this, "REPEAT_COUNT_LABEL", kRepeatCountUnit, 400, 289, 12, 12, true);
    m_repeatUntil = platform::control<QDateEdit>(this, "REPEAT_UNTIL_DTP", 416, 285, 105, 21);
    m_repeatUntil->setCalendarPopup(true);
    m_repeatUntil->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    m_repeatUntil->setAccessibleName(kRepeatEndCaption);
    connect(DATE_DTP, &QDateEdit::dateChanged, this, &PLAN_FRM::showRepeatCaptions);
    connect(m_repeatList, &QComboBox::currentIndexChanged, this, [this] {
        EDIT_FLAG = true;
        showRepeatEnd();
    });
    connect(m_repeatEndList, &QComboBox::currentIndexChanged, this, [this] {
        EDIT_FLAG = true;
        showRepeatEnd();
    });

    // The minute list comes before the hour list, as the window has always had it; the end
    // and the reminder and the repeat follow the window's own controls.
    QWidget* order[] = {IMPO_OPT[0], IMPO_OPT[1],   IMPO_OPT[2],     DETAIL_TEXT, PLACE_TEXT,
                        NOTICE_TEXT, OK_BTN,        CLOSE_BTN,       DATE_DTP,    MIN_LST,
                        HOUR_LST,    m_endHourList, m_endMinuteList, m_allDay,
                        REMIND_LST,  m_repeatList,  m_repeatEndList, m_repeatCount, m_repeatUntil};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    // Every control reports its keys here: the release of a held Enter reaches whichever
    // control the press moved the focus to.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool PLAN_FRM::prepare()
{
    return platform::reported(this, [this] { setUp(); }, kSetUpErrorTitle, platform::MsgIcon::Critical);
}

void PLAN_FRM::setUp()
{
    HOUR_LST->clear();
    for (int hour = 0; hour < 24; ++hour)
        HOUR_LST->addItem(state::twoDigits(hour));
    MIN_LST->clear();
    for (const QString& minute : kMinutes)
        MIN_LST->addItem(minute);
    // The end is optional: the first, empty entry is none.
    m_endHourList->clear();
    m_endHourList->addItem(QString());
    for (int hour = 0; hour < 24; ++hour)
        m_endHourList->addItem(state::twoDigits(hour));
    m_endMinuteList->clear();
    m_endMinuteList->addItem(QString());
    for (const QString& minute : kMinutes)
        m_endMinuteList->addItem(minute);
    m_allDay->setChecked(false);
    // The clock's date, not the day the program started: the two differ after midnight.
    DATE_DTP->setDate(platform::Clock::now().date());
    HOUR_LST->setCurrentIndex(0);
    MIN_LST->setCurrentIndex(0);
    // The first choice follows the lead of the Tools menu, whatever it is when the reminder comes.
    REMIND_LST->clear();
    REMIND_LST->addItem(kRemindDefault.arg(leadCaption(state::noticeMinutes())));
    for (int minutes : kRemindChoices)
        REMIND_LST->addItem(leadCaption(minutes), minutes);
    REMIND_LST->setCurrentIndex(0);
    IMPO_OPT[kMediumImportance]->setChecked(true);
    IMPO_OPT[kMediumImportance]->setFocus();
    m_endDays = 0;
    m_membership.reset();
    while (m_repeatList->count() > recurrence::kRepeatChoices)
        m_repeatList->removeItem(m_repeatList->count() - 1);
    showRepeatCaptions();
    m_repeatList->setCurrentIndex(0);
    m_repeatEndList->setCurrentIndex(0);
    m_repeatCount->setValue(10);
    m_repeatUntil->setDate(DATE_DTP->date().addMonths(3));
    showRepeatEnd();
    // Last: selecting the option above counted as input.
    EDIT_FLAG = false;
}

bool PLAN_FRM::prepareChange(const store::StoredRow& row)
{
    if (!prepare())
        return false;
    m_changedId = row.id;
    m_changedFrom = row.rec;
    m_changedDate = row.rec.P_DATE;
    setWindowTitle(kChangeCaption);
    OK_BTN->setText(kChange);
    DATE_DTP->setDate(QDate::fromString(row.rec.P_DATE, QStringLiteral("yyyy/MM/dd")));
    const QDate endDay = QDate::fromString(row.rec.END_DATE, QStringLiteral("yyyy/MM/dd"));
    m_endDays = endDay.isValid() ? std::max<qint64>(0, DATE_DTP->date().daysTo(endDay)) : 0;
    for (const auto& [list, text] :
         {std::pair{HOUR_LST, row.rec.P_HOUR}, std::pair{MIN_LST, row.rec.P_MIN}, std::pair{m_endHourList, row.rec.END_HOUR},
          std::pair{m_endMinuteList, row.rec.END_MIN}}) {
        // A time off the form's grid (another program's) is offered as it is, so that a change
        // of something else keeps it.
        if (list->findText(text) < 0)
            list->addItem(text);
        list->setCurrentText(text);
    }
    if (row.rec.P_IMPORTANCE >= 0 && row.rec.P_IMPORTANCE < 3)
        IMPO_OPT[row.rec.P_IMPORTANCE]->setChecked(true);
    DETAIL_TEXT->setText(row.rec.P_DETAIL);
    PLACE_TEXT->setText(row.rec.P_PLACE);
    NOTICE_TEXT->setText(row.rec.P_NOTICE);
    m_allDay->setChecked(row.rec.ALL_DAY);
    std::optional<int> lead;
    platform::reported(this, [&] { lead = store::reminderLead(m_module.db(), row.id); });
    // A lead off the list (another calendar's) is offered as it is, as an off-grid time is.
    if (lead && REMIND_LST->findData(*lead) < 0)
        REMIND_LST->addItem(leadCaption(*lead), *lead);
    REMIND_LST->setCurrentIndex(lead ? REMIND_LST->findData(*lead) : 0);
    // An occurrence shows its series' repeat, as the form would write it for this date.
    m_membership = store::membershipOf(m_module.db(), row.id);
    if (const std::optional<store::Series> series = m_membership ? store::findSeries(m_module.db(), m_membership->seriesId)
                                                                 : std::nullopt) {
        m_series = *series;
        const QByteArray& rule = series->pattern.rule;
        const recurrence::Repeat repeat = recurrence::repeatOf(rule, series->pattern.start.date);
        if (repeat == recurrence::Repeat::None)
            m_repeatList->addItem(kOtherRule);
        m_repeatList->setCurrentIndex(repeat == recurrence::Repeat::None ? m_repeatList->count() - 1 : int(repeat));
        for (const QByteArray& part : rule.split(';')) {
            if (part.startsWith("COUNT=")) {
                m_repeatEndList->setCurrentIndex(int(recurrence::Ending::Count));
                m_repeatCount->setValue(part.mid(6).toInt());
            } else if (part.startsWith("UNTIL=")) {
                m_repeatEndList->setCurrentIndex(int(recurrence::Ending::Until));
                m_repeatUntil->setDate(QDate::fromString(QString::fromLatin1(part.mid(6, 8)), QStringLiteral("yyyyMMdd")));
            }
        }
        m_shownSeriesRule = shownRule();
    } else {
        m_membership.reset();
    }
    DETAIL_TEXT->setFocus();
    // Last: filling the form counted as input.
    EDIT_FLAG = false;
    return true;
}

bool PLAN_FRM::prepareAt(const QDate& date, std::optional<QTime> time)
{
    if (!prepare())
        return false;
    DATE_DTP->setDate(date);
    if (time) {
        HOUR_LST->setCurrentIndex(time->hour());
        MIN_LST->setCurrentIndex(time->minute() / 15);
    }
    return true;
}

store::PLAN_REC PLAN_FRM::shownRow() const
{
    store::PLAN_REC row{state::dateKey(DATE_DTP->date()), HOUR_LST->currentText(), MIN_LST->currentText(),
                        DETAIL_TEXT->text(), qint16(m_impoGroup->checkedId()), PLACE_TEXT->text(), NOTICE_TEXT->text()};
    const QString endDay = state::dateKey(DATE_DTP->date().addDays(m_endDays));
    if (m_allDay->isChecked()) {
        row.P_HOUR = row.P_MIN = state::twoDigits(0);
        row.ALL_DAY = true;
        row.END_DATE = endDay;
    } else if (!m_endHourList->currentText().isEmpty()) {
        row.END_DATE = endDay;
        row.END_HOUR = m_endHourList->currentText();
        // An hour alone means its full hour.
        row.END_MIN = m_endMinuteList->currentText().isEmpty() ? state::twoDigits(0) : m_endMinuteList->currentText();
    }
    return row;
}

void PLAN_FRM::showRepeatCaptions()
{
    const int chosen = std::max(0, m_repeatList->currentIndex());
    const QStringList captions = recurrence::repeatCaptions(DATE_DTP->date());
    const bool editing = EDIT_FLAG;
    for (int i = 0; i < captions.size(); ++i) {
        if (i < m_repeatList->count())
            m_repeatList->setItemText(i, captions.at(i));
        else
            m_repeatList->addItem(captions.at(i));
    }
    m_repeatList->setCurrentIndex(chosen);
    EDIT_FLAG = editing;
}

void PLAN_FRM::showRepeatEnd()
{
    const bool repeats = m_repeatList->currentIndex() > 0;
    m_repeatEndList->setEnabled(repeats);
    const auto ending = recurrence::Ending(m_repeatEndList->currentIndex());
    m_repeatCount->setEnabled(repeats && ending == recurrence::Ending::Count);
    m_repeatUntil->setEnabled(repeats && ending == recurrence::Ending::Until);
}

QByteArray PLAN_FRM::shownRule() const
{
    const int index = m_repeatList->currentIndex();
    if (index >= int(recurrence::kRepeatChoices))
        return m_series.pattern.rule; // another program's rule, kept as it is
    return recurrence::ruleFor(recurrence::Repeat(std::max(0, index)), DATE_DTP->date(),
                               recurrence::Ending(m_repeatEndList->currentIndex()), m_repeatCount->value(),
                               m_repeatUntil->date());
}

bool PLAN_FRM::checkTimes(const store::PLAN_REC& row)
{
    // A date before today would be gone at the next start-up's purge without a word. A time
    // earlier today is still today's; a row being changed may keep the date it has.
    const QString today = state::dateKey(platform::Clock::now().date());
    if (row.P_DATE < today && !(m_changedId && row.P_DATE == m_changedDate)) {
        platform::showWarning(this, kPastDate, kNoDetailTitle);
        return false;
    }
    const bool endFirst = row.hasEnd() && !row.ALL_DAY
        && std::pair(row.END_DATE, row.END_HOUR + row.END_MIN) < std::pair(row.P_DATE, row.P_HOUR + row.P_MIN);
    if (endFirst) {
        platform::showWarning(this, kEndBeforeStart, kNoDetailTitle);
        return false;
    }
    if (m_repeatList->currentIndex() > 0 && m_repeatEndList->currentIndex() == int(recurrence::Ending::Until)
        && m_repeatUntil->date() < DATE_DTP->date()) {
        platform::showWarning(this, kUntilBeforeStart, kNoDetailTitle);
        return false;
    }
    return true;
}

void PLAN_FRM::allDayToggled(bool checked)
{
    for (QWidget* time : {static_cast<QWidget*>(HOUR_LST), static_cast<QWidget*>(MIN_LST),
                          static_cast<QWidget*>(m_endHourList), static_cast<QWidget*>(m_endMinuteList)})
        time->setEnabled(!checked);
    EDIT_FLAG = true;
}

std::optional<int> PLAN_FRM::shownLead() const
{
    const QVariant lead = REMIND_LST->currentData();
    return lead.isValid() ? std::optional(lead.toInt()) : std::nullopt;
}

bool PLAN_FRM::CheckDetail()
{
    if (!state::trimBlanks(DETAIL_TEXT->text()).isEmpty())
        return true;
    platform::showWarning(this, kNoDetail, kNoDetailTitle);
    return false;
}

void PLAN_FRM::OK_BTN_Click()
{
    if (!CheckDetail() || !checkTimes(shownRow()))
        return;
    if (m_changedId) {
        saveChange();
        return;
    }
    bool duplicate = false;
    const bool saved = platform::reported(this, [this, &duplicate] {
        const store::PLAN_REC row = shownRow();
        platform::Recordset rs = m_module.db().openRecordset(
            store::duplicateSql(row.P_DATE, state::trimBlanks(row.P_DETAIL), row.P_HOUR, row.P_MIN), store::kTable);
        if (!rs.eof()) {
            duplicate = true;
            return;
        }
        store::checkFits(row);
        if (const QByteArray rule = shownRule(); !rule.isEmpty()) {
            rs.close();
            platform::Transaction transaction(m_module.db());
            store::addSeries(m_module.db(), store::seriesFor(row, rule), platform::Clock::now().date());
            transaction.commit();
            return;
        }
        // The row is stored only by update(), after all seven columns are set; a failure on
        // the way leaves nothing behind.
        rs.addNew();
        rs.setField(QStringLiteral("P_DATE"), row.P_DATE);
        rs.setField(QStringLiteral("P_HOUR"), row.P_HOUR);
        rs.setField(QStringLiteral("P_MIN"), row.P_MIN);
        rs.setField(QStringLiteral("P_IMPORTANCE"), row.P_IMPORTANCE);
        rs.setField(QStringLiteral("P_DETAIL"), row.P_DETAIL);
        rs.setField(QStringLiteral("P_PLACE"), row.P_PLACE);
        rs.setField(QStringLiteral("P_NOTICE"), row.P_NOTICE);
        rs.setField(QStringLiteral("END_DATE"), row.END_DATE);
        rs.setField(QStringLiteral("END_HOUR"), row.END_HOUR);
        rs.setField(QStringLiteral("END_MIN"), row.END_MIN);
        rs.setField(QStringLiteral("ALL_DAY"), int(row.ALL_DAY));
        // Only a lead of its own is written: a file that predates the column still takes the rest.
        if (const std::optional<int> lead = shownLead())
            rs.setField(QStringLiteral("P_REMIND"), *lead);
        rs.update();
        rs.close();
    });
    if (duplicate)
        platform::showWarning(this, kDuplicate, kDuplicateTitle);
    if (!saved || duplicate)
        return;
    DETAIL_TEXT->clear();
    PLACE_TEXT->clear();
    NOTICE_TEXT->clear();
    m_repeatList->setCurrentIndex(0);
    DETAIL_TEXT->setFocus();
    // Last: emptying the fields counted as input.
    EDIT_FLAG = false;
}

void PLAN_FRM::saveChange()
{
    if (m_membership) {
        saveOccurrenceChange();
        return;
    }
    enum { Changed, Duplicate, Gone, ChangedMeanwhile } outcome = Changed;
    const bool saved = platform::reported(this, [this, &outcome] {
        const store::PLAN_REC row = shownRow();
        platform::Database& db = m_module.db();
        // The check and the change hold the write lock together: no other program can store
        // the same appointment in between.
        platform::Transaction transaction(db);
        const std::optional<store::PLAN_REC> stored = store::find(db, *m_changedId);
        if (!stored)
            outcome = Gone; // and not made again: the other program meant it gone
        else if (!store::sameAppointment(*stored, m_changedFrom))
            outcome = ChangedMeanwhile; // the user has not seen that change: it must not be lost
        else if (store::isDuplicate(db, row, *m_changedId))
            outcome = Duplicate;
        else if (const QByteArray rule = shownRule(); !rule.isEmpty()) {
            // Made repeating: the row becomes the first occurrence of a new series.
            store::remove(db, *m_changedId);
            store::addSeries(db, store::seriesFor(row, rule), platform::Clock::now().date());
            transaction.commit();
        } else if (!store::replace(db, *m_changedId, row))
            outcome = Gone;
        else {
            store::setReminderLead(db, *m_changedId, shownLead());
            transaction.commit();
        }
    });
    if (outcome == Duplicate)
        platform::showWarning(this, kDuplicate, kDuplicateTitle);
    else if (outcome == Gone)
        platform::showWarning(this, kGone, platform::programTitle());
    else if (outcome == ChangedMeanwhile)
        platform::showWarning(this, kChangedMeanwhile, platform::programTitle());
    else if (saved) {
        EDIT_FLAG = false;
        accept();
    }
}

void PLAN_FRM::saveOccurrenceChange()
{
    const std::optional<store::Scope> scope = series_question::ask(this, false);
    if (!scope)
        return;
    enum { Changed, Gone, ChangedMeanwhile } outcome = Changed;
    const bool saved = platform::reported(this, [this, &outcome, &scope] {
        platform::Database& db = m_module.db();
        const std::optional<store::PLAN_REC> stored = store::find(db, *m_changedId);
        if (!stored) {
            outcome = Gone;
            return;
        }
        if (!store::sameAppointment(*stored, m_changedFrom)) {
            outcome = ChangedMeanwhile;
            return;
        }
        // The whole series keeps its own rule unless the repeat row was changed.
        QByteArray rule = *scope == store::Scope::All && shownRule() == m_shownSeriesRule ? QByteArray() : shownRule();
        // The later part of a series of so many times keeps the times that were left.
        if (*scope == store::Scope::Following && rule == m_shownSeriesRule
            && m_repeatEndList->currentIndex() == int(recurrence::Ending::Count)) {
            const recurrence::Wall at = recurrence::Wall::fromKey(m_membership->recurrenceId);
            const auto before = recurrence::expand(m_series.pattern, m_series.pattern.start.date, at.date.addDays(-1));
            rule = recurrence::ruleFor(recurrence::Repeat(m_repeatList->currentIndex()), DATE_DTP->date(), recurrence::Ending::Count,
                                       std::max(1, m_repeatCount->value() - int(before.occurrences.size())));
        }
        store::changeOccurrence(db, *m_changedId, shownRow(), *scope, rule, platform::Clock::now().date());
    });
    if (outcome == Gone)
        platform::showWarning(this, kGone, platform::programTitle());
    else if (outcome == ChangedMeanwhile)
        platform::showWarning(this, kChangedMeanwhile, platform::programTitle());
    else if (saved) {
        EDIT_FLAG = false;
        accept();
    }
}

void PLAN_FRM::keyPressEvent(QKeyEvent* event)
{
    // No cancel button: Escape closes nothing, as in the other windows.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PLAN_FRM::reject()
{
    if (EDIT_FLAG && !platform::askYesNo(this, kCloseQuestion, kCloseTitle, platform::MsgAnswer::Yes))
        return;
    QDialog::reject();
}

bool PLAN_FRM::eventFilter(QObject* watched, QEvent* event)
{
    const bool freshEnter = m_enterStrokes.isFreshPress(event, Qt::Key_Return)
                            || m_enterStrokes.isFreshPress(event, Qt::Key_Enter);
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    if (watched == DATE_DTP) {
        // Tab leaves the picker at once, as the window's focus order has it; the arrow keys
        // still move between year, month and day.
        const bool tab = keyEvent->key() == Qt::Key_Tab || keyEvent->key() == Qt::Key_Backtab;
        if (tab && !(keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            focusNextPrevChild(keyEvent->key() == Qt::Key_Tab && !(keyEvent->modifiers() & Qt::ShiftModifier));
            return true;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (!isEnter(keyEvent))
        return QDialog::eventFilter(watched, event);
    auto* button = qobject_cast<QPushButton*>(watched);
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!button && !field)
        return QDialog::eventFilter(watched, event);
    // One action per stroke: a held Enter must neither walk on through the fields nor store
    // the appointment by itself.
    if (freshEnter && button)
        button->click();
    else if (freshEnter)
        enterPressed(field);
    return true;
}

void PLAN_FRM::enterPressed(QLineEdit* field)
{
    if (field == DETAIL_TEXT) {
        if (CheckDetail())
            PLACE_TEXT->setFocus();
        else
            DETAIL_TEXT->setFocus();
    } else if (field == PLACE_TEXT) {
        NOTICE_TEXT->setFocus();
    } else if (field == NOTICE_TEXT) {
        OK_BTN->setFocus();
    }
}

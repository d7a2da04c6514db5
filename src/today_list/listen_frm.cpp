#include "today_list/listen_frm.h"

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/window_style.h"
#include "series_question/series_question.h"
#include "state/text.h"

#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace {
const QString kCaption = QStringLiteral("詳細確認");
const QString kTodayCaption = QStringLiteral("今日の予定：");
const QString kImportanceCaption = QStringLiteral("重要度　：");
const QString kDetailFrame = QStringLiteral("詳細");
const QString kTimeCaption = QStringLiteral("時間　：");
const QString kPlaceCaption = QStringLiteral("場所　：");
const QString kNoticeCaption = QStringLiteral("備考　：");
const QString kOk = QStringLiteral("OK");
const QString kNoneLeft = QStringLiteral("予定が0件になりました。");
const QString kNoneLeftTitle = QStringLiteral("全予定ｸﾘｱ");
const QString kDeleteQuestion = QStringLiteral("この予定を削除しますか？");
const QString kDeleteTitle = QStringLiteral("削除確認");
const QString kDeleteCommand = QStringLiteral("削除");
const QString kListName = QStringLiteral("今日の予定");
const QString kPlaceName = QStringLiteral("場所");
const QString kNoticeName = QStringLiteral("備考");

const QString kDate = QStringLiteral("P_DATE");
const QString kHourColumn = QStringLiteral("P_HOUR");
const QString kMinColumn = QStringLiteral("P_MIN");
const QString kDetail = QStringLiteral("P_DETAIL");
const QString kImportance = QStringLiteral("P_IMPORTANCE");
const QString kPlace = QStringLiteral("P_PLACE");
const QString kNotice = QStringLiteral("P_NOTICE");
const QString kEndDate = QStringLiteral("END_DATE");
const QString kEndHour = QStringLiteral("END_HOUR");
const QString kEndMin = QStringLiteral("END_MIN");
const QString kAllDay = QStringLiteral("ALL_DAY");
const QString kId = QStringLiteral("ID");
const QString kSeriesId = QStringLiteral("SERIES_ID");

constexpr int kWidth = 501;
constexpr int kHeight = 245;
// The room each value has in the frame before the next control or the frame's edge.
constexpr int kPlaceRoomWidth = 233;
constexpr int kNoticeRoomWidth = 409;
constexpr int kValueRoomHeight = 21;

// A value sized to its text as far as its room allows: a longer one breaks between words, not
// inside one, and shows whole in its tool tip. Empty, it is named by its caption for a screen
// reader, which would otherwise name it after the frame.
void showValue(QLabel* label, const QString& text, const QString& caption, int roomWidth)
{
    label->setWordWrap(false);
    platform::setLabelText(label, text);
    const bool fits = label->width() <= roomWidth && !text.contains(QLatin1Char('\n'));
    if (!fits) {
        label->setWordWrap(true);
        label->resize(roomWidth, std::min(label->heightForWidth(roomWidth), kValueRoomHeight));
    }
    label->setToolTip(fits ? QString() : platform::plainToolTip(text));
    label->setAccessibleName(text.isEmpty() ? caption : QString());
}

} // namespace

LISTEN_FRM::LISTEN_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("LISTEN_FRM"));
    platform::makeFixedDialog(this, kWidth, kHeight);
    setWindowTitle(kCaption);

    Label13 = platform::control<QLabel>(this, "Label13", 8, 8, 66, 12);
    platform::setLabelText(Label13, kTodayCaption);

    DETAIL_LST = platform::control<QListWidget>(this, "DETAIL_LST", 8, 24, 481, 76);
    DETAIL_LST->setSelectionMode(QAbstractItemView::SingleSelection);
    DETAIL_LST->setSortingEnabled(false);
    // Every line is one line of text in one font; telling the view so spares it measuring
    // each of up to 32767 lines when the list is filled.
    DETAIL_LST->setUniformItemSizes(true);
    DETAIL_LST->installEventFilter(this);
    connect(DETAIL_LST, &QListWidget::itemSelectionChanged, this, &LISTEN_FRM::selectionChanged);
    DETAIL_LST->setAccessibleName(kListName);
    // The Delete key's command, where a mouse alone finds it.
    auto* deleteAction = new QAction(kDeleteCommand, DETAIL_LST);
    deleteAction->setObjectName(QStringLiteral("deleteAction"));
    connect(deleteAction, &QAction::triggered, this, &LISTEN_FRM::deleteSelected);
    DETAIL_LST->addAction(deleteAction);
    DETAIL_LST->setContextMenuPolicy(Qt::ActionsContextMenu);

    Label2 = platform::control<QLabel>(this, "Label2", 400, 120, 50, 12);
    platform::setLabelText(Label2, kImportanceCaption);

    IMPO_LABEL = platform::control<QLabel>(this, "IMPO_LABEL", 464, 118, 17, 15);
    IMPO_LABEL->setFont(platform::msPGothic(11.25, true));
    QPalette darkRed = IMPO_LABEL->palette();
    darkRed.setColor(QPalette::WindowText, QColor(128, 0, 0));
    IMPO_LABEL->setPalette(darkRed);

    Frame3 = platform::control<QGroupBox>(this, "Frame3", 8, 136, 481, 73);
    Frame3->setTitle(kDetailFrame);

    Label1 = platform::control<QLabel>(Frame3, "Label1", 16, 24, 38, 12);
    platform::setLabelText(Label1, kTimeCaption);
    TIME_LABEL = platform::control<QLabel>(Frame3, "TIME_LABEL", 64, 24, 57, 13);
    TIME_LABEL->setFont(platform::msPGothic(9.75));
    Label6 = platform::control<QLabel>(Frame3, "Label6", 192, 24, 41, 17);
    Label6->setText(kPlaceCaption);
    PLACE_LABEL = platform::control<QLabel>(Frame3, "PLACE_LABEL", 240, 24, 233, 13);
    PLACE_LABEL->setFont(platform::msPGothic(9.75));
    Label8 = platform::control<QLabel>(Frame3, "Label8", 16, 48, 41, 17);
    Label8->setText(kNoticeCaption);
    NOTICE_LABEL = platform::control<QLabel>(Frame3, "NOTICE_LABEL", 64, 48, 57, 13);
    NOTICE_LABEL->setFont(platform::msPGothic(9.75));
    // Until a line is selected the value labels are empty rather than showing stale text.
    for (QLabel* value : {IMPO_LABEL, TIME_LABEL, PLACE_LABEL, NOTICE_LABEL})
        platform::setLabelText(value, QString());

    Command1 = platform::control<QPushButton>(this, "Command1", 376, 216, 113, 25);
    Command1->setText(kOk);
    // Enter on the focused button presses it; it is never the default for the other controls.
    Command1->setAutoDefault(true);
    Command1->setDefault(false);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(Command1, DETAIL_LST);
}

bool LISTEN_FRM::prepare()
{
    m_closed = false;
    LoadTodayList();
    if (m_closed)
        return false;
    Command1->setFocus(Qt::OtherFocusReason);
    return true;
}

void LISTEN_FRM::LoadTodayList()
{
    // Lines are gathered and put into the list in one go, which is what makes a long day
    // quick to open; on a failure the lines read so far still reach the list.
    QStringList lines;
    bool empty = false;
    const bool loaded = platform::reported(this, [&] {
        DETAIL_LST->clear();
        platform::Recordset rs = m_module.db().openRecordset(store::listTodaySql(m_module.TODAY_STR));
        if ((empty = rs.eof()))
            return;
        rs.moveLast();
        const qint16 n = platform::toInt16(rs.recordCount());
        rs.moveFirst();
        TODAY_PLAN.assign(size_t(n), store::PLAN_REC{});
        m_ids.assign(size_t(n), 0);
        m_inSeries.assign(size_t(n), false);
        lines.reserve(n);
        for (size_t i = 0; i < TODAY_PLAN.size(); ++i) {
            store::PLAN_REC& row = TODAY_PLAN[i];
            m_ids[i] = rs.value(kId).toLongLong();
            m_inSeries[i] = !rs.value(kSeriesId).isNull();
            row.P_DATE = rs.text(kDate);
            row.P_HOUR = rs.text(kHourColumn);
            row.P_MIN = rs.text(kMinColumn);
            row.P_DETAIL = rs.text(kDetail);
            row.P_IMPORTANCE = rs.int16(kImportance);
            row.P_PLACE = rs.text(kPlace);
            row.P_NOTICE = rs.text(kNotice);
            row.END_DATE = rs.text(kEndDate);
            row.END_HOUR = rs.text(kEndHour);
            row.END_MIN = rs.text(kEndMin);
            row.ALL_DAY = rs.int16(kAllDay) != 0;
            lines << row.P_DETAIL;
            rs.moveNext();
        }
    });
    DETAIL_LST->addItems(lines);
    if (empty) {
        platform::showWarning(this, kNoneLeft, kNoneLeftTitle);
        closeWindow();
    } else if (loaded) {
        DETAIL_LST->setCurrentRow(0);
    }
}

void LISTEN_FRM::selectionChanged()
{
    // The list always keeps one line selected, so the details shown are always the line's
    // that Delete would remove (a Ctrl+click would otherwise clear the selection).
    const int line = selectedLine();
    if (line < 0 && DETAIL_LST->count() > 0 && !TODAY_PLAN.empty()) {
        DETAIL_LST->setCurrentRow(qMax(0, DETAIL_LST->currentRow()), QItemSelectionModel::ClearAndSelect);
        return;
    }
    showDetail(line);
}

int LISTEN_FRM::selectedLine() const
{
    const QModelIndexList selected = DETAIL_LST->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void LISTEN_FRM::showDetail(int line)
{
    if (line < 0 || size_t(line) >= TODAY_PLAN.size())
        return;
    const store::PLAN_REC& row = TODAY_PLAN[size_t(line)];
    platform::setLabelText(TIME_LABEL, store::timeSpanCaption(row) + (m_inSeries[size_t(line)] ? store::kSeriesMark : QString()));
    platform::setLabelText(IMPO_LABEL, state::importanceMarks(row.P_IMPORTANCE));
    IMPO_LABEL->setAccessibleName(state::importanceName(row.P_IMPORTANCE));
    showValue(PLACE_LABEL, row.P_PLACE, kPlaceName, kPlaceRoomWidth);
    showValue(NOTICE_LABEL, row.P_NOTICE, kNoticeName, kNoticeRoomWidth);
}

void LISTEN_FRM::deleteSelected()
{
    const int line = selectedLine();
    if (line < 0 || size_t(line) >= TODAY_PLAN.size())
        return;
    // Taken now: the appointment asked about is the one deleted, whatever happens meanwhile.
    const qint64 id = m_ids[size_t(line)];
    if (m_inSeries[size_t(line)]) {
        // An occurrence: this one, the later ones or all, as other calendars ask.
        const std::optional<store::Scope> scope = series_question::ask(this, true);
        if (!scope || !platform::reported(this, [this, id, &scope] {
                store::deleteOccurrence(m_module.db(), id, *scope, platform::Clock::now().date());
            }))
            return;
        LoadTodayList();
        return;
    }
    if (!platform::askYesNo(this, kDeleteQuestion, kDeleteTitle, platform::MsgAnswer::Yes))
        return;
    if (!platform::reported(this, [this, id] { store::remove(m_module.db(), id); }))
        return;
    LoadTodayList();
}

void LISTEN_FRM::closeWindow()
{
    m_closed = true;
    reject();
}

bool LISTEN_FRM::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == DETAIL_LST && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete)
        deleteSelected();
    // The key goes on to the list either way.
    return QDialog::eventFilter(watched, event);
}

void LISTEN_FRM::keyPressEvent(QKeyEvent* event)
{
    // OK is neither the default nor the cancel button: Enter in the list and Escape leave the
    // window open. Enter on the focused button never comes here, the button takes it.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

#include "main_window/main_frm.h"

#include "about/ver_frm.h"
#include "day_turns/day_turns.h"
#include "ical_commands/ical_control.h"
#include "all_list/all_list_window.h"
#include "plan_entry/plan_frm.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/file_dialog.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/picture.h"
#include "platform/window_style.h"
#include "reminders/reminder_desk.h"
#include "reminders/reminders.h"
#include "resident/resident_tray.h"
#include "schedule_view/schedule_window.h"
#include "settings_dialog/setting_frm.h"
#include "state/text.h"
#include "store/plan_store.h"
#include "store/search_index.h"
#include "store/series_store.h"
#include "store/storage.h"
#include "sync_settings/sync_control.h"
#include "sync_settings/sync_settings_dialog.h"
#include "today_list/listen_frm.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

namespace {
const QString kCaption = QStringLiteral("ミルドカ Ver. 2.00");
const QString kNoAppointment = QStringLiteral("今日は予定がありません。");
const QString kAppointments = QStringLiteral("件の予定が入っています。");
const QString kPurgeQuestion = QStringLiteral("昨日以前のデータを削除しますか？");
const QString kPurgeTitle = QStringLiteral("ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ");
const QString kPurged = QStringLiteral("削除されました");
const QString kStop = QStringLiteral("、おやめください。");
const QString kToolsMenu = QStringLiteral("ﾂｰﾙ(&T)");
const QString kAllList = QStringLiteral("予定一覧(&L)");
const QString kSchedule = QStringLiteral("予定表(&V)…");
const QString kNoticeMenu = QStringLiteral("お知らせ(&R)");
const QString kStartAtLogin = QStringLiteral("ログイン時に起動(&A)");
const QString kInternalError = QStringLiteral("Internal Error");
const QString kToolBarName = QStringLiteral("ツールバー");
const QString kGreetings[] = {QStringLiteral("おはようございます。"), QStringLiteral("こんにちわ。"),
                              QStringLiteral("こんばんわ。"), QStringLiteral("遅くまで大変ですね。")};
const struct {
    const char* name;
    const char* caption;
    int minutes;
} kNoticeChoices[] = {{"noticeOff", "しない", -1},   {"noticeAtTime", "時刻ちょうど", 0}, {"notice5", "5分前", 5},
                      {"notice10", "10分前", 10}, {"notice15", "15分前", 15},          {"notice30", "30分前", 30},
                      {"notice60", "60分前", 60}};

constexpr int kClientWidth = 341;
constexpr int kClientHeight = 144;
} // namespace

QString greetingForHour(int hour)
{
    return kGreetings[partOfDay(hour)];
}

MAIN_FRM::MAIN_FRM(state::Module1& module, QWidget* parent) : QMainWindow(parent), m_module(module)
{
    setObjectName(QStringLiteral("MAIN_FRM"));
    setWindowTitle(kCaption);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    Frame1 = platform::control<QFrame>(client, "Frame1", 120, 24, 217, 113);
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    DATE_TEXT = platform::control<QLabel>(Frame1, "DATE_TEXT", 16, 16, 113, 17);
    DATE_TEXT->setText(QStringLiteral("1999年3月18日（木）"));

    NAME_LABEL = platform::control<QLabel>(Frame1, "NAME_LABEL", 16, 40, 34, 12);
    NAME_LABEL->setFont(platform::msPGothic(9, true));
    platform::setLabelText(NAME_LABEL, QStringLiteral("秘書："));

    GREETING_LABEL = platform::control<QLabel>(Frame1, "GREETING_LABEL", 24, 64, 105, 12);
    platform::setLabelText(GREETING_LABEL, QStringLiteral("おはようございます。"));

    TELL_LABEL = platform::control<QLabel>(Frame1, "TELL_LABEL", 24, 80, 145, 17);
    platform::setLabelText(TELL_LABEL, QStringLiteral("3件の予定が入っています。"));

    SEC_PICT = platform::control<platform::PictureBox>(client, "SEC_PICT", 8, 32, 104, 104);
    SEC_PICT->setPicture(QImage(QStringLiteral(":/girl.gif")));
    SEC_PICT->setCursor(QCursor(QPixmap(QStringLiteral(":/pointer.png")), 1, 1));
    connect(SEC_PICT, &platform::PictureBox::pressed, this, [this] { PICT_DOWN = true; });
    connect(SEC_PICT, &platform::PictureBox::moved, this, &MAIN_FRM::pictureMoved);

    // The clock is followed from the end of a start-up that set the day; the reminders follow the
    // same look at the clock, so that one wake-up a minute serves both.
    m_dayTurns = new DayTurns(this);
    m_reminders = new Reminders(m_module, this);
    connect(m_dayTurns, &DayTurns::greetingTurned, this, &MAIN_FRM::showGreeting);
    connect(m_dayTurns, &DayTurns::dayTurned, this, [this] { m_dayTurnPending = true; });
    connect(m_dayTurns, &DayTurns::checked, this, [this] {
        catchUpWithDay();
        m_reminders->check();
    });
    // The reminders are given and answered there; the window only opens what the user asks to see.
    connect(new ReminderDesk(*m_reminders, m_module, this), &ReminderDesk::openRequested, this, &MAIN_FRM::openAppointment);

    m_resident = new ResidentTray(this);
    connect(m_resident, &ResidentTray::showRequested, this, &MAIN_FRM::bringToFront);
    connect(m_resident, &ResidentTray::entryRequested, this, &MAIN_FRM::mnuSche_Click);
    connect(m_resident, &ResidentTray::exitRequested, this, &MAIN_FRM::mnuExit_Click);
    m_sync = new SyncControl(m_module, this);
    connect(m_sync, &SyncControl::rowsChanged, this, &MAIN_FRM::refresh);
    m_ical = new IcalControl(m_module, this);
    connect(m_ical, &IcalControl::rowsChanged, this, [this] {
        refresh();
        m_sync->changed();
    });
    buildMenus();
    buildToolBar();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MAIN_FRM::~MAIN_FRM() = default;

void MAIN_FRM::buildMenus()
{
    auto addItem = [this](QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut,
                          void (MAIN_FRM::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mnuMenu = menuBar()->addMenu(QStringLiteral("ﾒﾆｭｰ(&M)"));
    mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    mnuConfirm = addItem(mnuMenu, QStringLiteral("mnuConfirm"), QStringLiteral("詳細確認(&C)"),
                         QKeySequence(Qt::CTRL | Qt::Key_K), &MAIN_FRM::mnuConfirm_Click);
    mnuSche = addItem(mnuMenu, QStringLiteral("mnuSche"), QStringLiteral("予定設定(&S)"),
                      QKeySequence(Qt::CTRL | Qt::Key_S), &MAIN_FRM::mnuSche_Click);
    mnuSet = addItem(mnuMenu, QStringLiteral("mnuSet"), QStringLiteral("秘書設定(&S)"),
                     QKeySequence(Qt::CTRL | Qt::Key_H), &MAIN_FRM::mnuSet_Click);
    mnuData = addItem(mnuMenu, QStringLiteral("mnuData"), QStringLiteral("ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ(&D)"), QKeySequence(),
                      &MAIN_FRM::mnuData_Click);
    mnuP1 = mnuMenu->addSeparator();
    mnuP1->setObjectName(QStringLiteral("mnuP1"));
    mnuExit = addItem(mnuMenu, QStringLiteral("mnuExit"), QStringLiteral("終了(&X)"), QKeySequence(),
                      &MAIN_FRM::mnuExit_Click);
    // The commands that came after the original ones have a menu of their own, so the original
    // menus stay as they always were.
    m_toolsMenu = menuBar()->addMenu(kToolsMenu);
    m_toolsMenu->setObjectName(QStringLiteral("menuTools"));
    buildToolsMenu();
    mnuHelp = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuVersion = addItem(mnuHelp, QStringLiteral("mnuVersion"), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&V)"),
                         QKeySequence(Qt::CTRL | Qt::Key_V), &MAIN_FRM::mnuVersion_Click);
}

void MAIN_FRM::buildToolsMenu()
{
    QAction* allList = m_toolsMenu->addAction(kAllList);
    allList->setObjectName(QStringLiteral("actionAllList"));
    allList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    allList->setShortcutContext(Qt::WindowShortcut);
    connect(allList, &QAction::triggered, this, [this] { openDialog<AllListWindow>(); });
    QAction* schedule = m_toolsMenu->addAction(kSchedule);
    schedule->setObjectName(QStringLiteral("actionSchedule"));
    connect(schedule, &QAction::triggered, this, &MAIN_FRM::openSchedule);
    m_toolsMenu->addSeparator();
    m_ical->addCommands(m_toolsMenu);
    m_toolsMenu->addSeparator();
    m_sync->addCommands(m_toolsMenu, [this] { openDialog<SyncSettingsDialog>(); });
    m_toolsMenu->addSeparator();
    QMenu* notice = m_toolsMenu->addMenu(kNoticeMenu);
    notice->setObjectName(QStringLiteral("menuNotice"));
    m_noticeChoices = new QActionGroup(notice);
    m_noticeChoices->setExclusive(true);
    for (const auto& choice : kNoticeChoices) {
        QAction* action = notice->addAction(QString::fromUtf8(choice.caption));
        action->setObjectName(QString::fromLatin1(choice.name));
        action->setCheckable(true);
        action->setData(choice.minutes);
        m_noticeChoices->addAction(action);
    }
    connect(m_noticeChoices, &QActionGroup::triggered, this, &MAIN_FRM::chooseNotice);

    m_startAtLogin = m_toolsMenu->addAction(kStartAtLogin);
    m_startAtLogin->setObjectName(QStringLiteral("mnuStartAtLogin"));
    m_startAtLogin->setCheckable(true);
    connect(m_startAtLogin, &QAction::triggered, this, &MAIN_FRM::toggleStartAtLogin);
    m_resident->addChoice(m_toolsMenu);

    // What the marks show is read from where it is kept, each time the menu opens.
    connect(m_toolsMenu, &QMenu::aboutToShow, this, &MAIN_FRM::showToolsState);
    showToolsState();
}

void MAIN_FRM::openSchedule()
{
    // One window, kept open beside this one while the others are used.
    if (!m_schedule) {
        m_schedule = new ScheduleWindow(m_module, this);
        m_schedule->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_schedule, &ScheduleWindow::rowsChanged, this, [this] {
            refresh();
            m_sync->changed();
        });
    }
    m_schedule->show();
    m_schedule->raise();
    m_schedule->activateWindow();
}

void MAIN_FRM::showToolsState()
{
    const int minutes = state::noticeMinutes();
    for (QAction* choice : m_noticeChoices->actions())
        choice->setChecked(choice->data().toInt() == minutes || (minutes < 0 && choice->data().toInt() < 0));
    m_startAtLogin->setChecked(platform::startsAtLogin(QCoreApplication::applicationFilePath()));
}

void MAIN_FRM::chooseNotice(QAction* choice)
{
    platform::reported(this, [choice] {
        state::writeSettings({{state::kNoticeMin, QString::number(choice->data().toInt())}});
    }, kInternalError, platform::MsgIcon::Critical);
    showToolsState();
    platform::reported(this, [this] { planReminders(); }, platform::programTitle(), platform::MsgIcon::Exclamation);
}

void MAIN_FRM::toggleStartAtLogin(bool on)
{
    platform::reported(
        this, [on] { platform::setStartAtLogin(QCoreApplication::applicationFilePath(), on); }, platform::programTitle(),
        platform::MsgIcon::Exclamation);
    showToolsState();
}

void MAIN_FRM::buildToolBar()
{
    Toolbar1 = platform::control<QToolBar>(centralWidget(), "Toolbar1", 0, 0, kClientWidth, 28);
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(20, 20));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    Toolbar1->lower();
    Toolbar1->setAccessibleName(kToolBarName);

    // The buttons' images come in this order from the image list; each button is known by its
    // key, and its accessible name is the menu command it runs.
    const struct {
        const char* key;
        QAction* item;
    } buttons[] = {{"listen", mnuConfirm}, {"plan", mnuSche}, {"sec", mnuSet}, {"delete", mnuData}, {"door", mnuExit}};
    for (const auto& button : buttons) {
        const QString key = QString::fromLatin1(button.key);
        QAction* action = Toolbar1->addAction(QIcon(QStringLiteral(":/%1.png").arg(key)), QString());
        action->setObjectName(key);
        action->setData(key);
        QString name = button.item->text();
        name.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
        action->setText(name);
        action->setToolTip(name);
        Toolbar1->widgetForAction(action)->setObjectName(key + QStringLiteral("_button"));
        connect(action, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
        if (key == QLatin1String("listen"))
            m_listenButton = action;
    }
}

void MAIN_FRM::start()
{
    startUp();
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    refresh();
    m_sync->changed();
}

void MAIN_FRM::startUp()
{
    PICT_DOWN = false;
    // The texts the window is designed with are no facts: a step that fails leaves its label
    // empty rather than a date or a count that is not today's.
    for (QLabel* label : {DATE_TEXT, GREETING_LABEL, TELL_LABEL})
        platform::setLabelText(label, QString());
    QString notice;
    const bool opened = platform::reported(this, [this, &notice] {
        store::Opened opened = store::openAppointments(state::databasePath());
        m_module.SEC_DB = std::move(opened.db);
        notice = opened.notice;
        store::ensureSearchIndex(m_module.db());
        m_module.SEC_NAME_STR = state::readSetting(state::kSecName);
        m_module.MY_NAME_STR = state::readSetting(state::kMyName);
        m_module.SEC_PIC_PATH = state::readSetting(state::kSecPic);
        if (m_module.SEC_PIC_PATH.isEmpty() || !platform::isOrdinaryFile(m_module.SEC_PIC_PATH))
            m_module.SEC_PIC_PATH = state::defaultPicturePath();
    });
    if (!opened)
        return;
    if (!notice.isEmpty())
        platform::showWarning(this, notice, platform::programTitle());

    // A picture that cannot be shown is reported, but it must not keep today's date from
    // being set: without it the count and the purges would work on an empty date.
    showPicture();
    setDay();
    m_dayTurns->start();
}

void MAIN_FRM::setDay()
{
    m_dayTurnPending = false;
    const QDate today = platform::Clock::now().date();
    const bool purge = purgesOnTurn(QDate::fromString(m_module.TODAY_STR, QStringLiteral("yyyy/MM/dd")), today);
    m_module.TODAY_STR = state::dateKey(today);
    platform::setLabelText(DATE_TEXT, state::dateCaption(today));
    showGreeting();
    // Repeating appointments get their rows for the year from today: a series never runs out.
    // One box at most: a file that fails the purge is not asked again.
    platform::reported(this, [this, today, purge] {
        platform::Database& db = m_module.db();
        const bool series = db.writable() && db.hasTable(QStringLiteral("PLAN_SERIES"));
        // One commit for both: its wait for the disk is most of what a day turn costs.
        std::optional<platform::Transaction> transaction;
        if (series)
            transaction.emplace(db);
        if (purge)
            db.execute(store::purgeAtStartSql(m_module.TODAY_STR));
        if (series) {
            store::extendSeries(db, today, false);
            if (purge)
                store::purgeEndedSeries(db, today);
            transaction->commit();
        }
    });
}

void MAIN_FRM::showGreeting()
{
    platform::setLabelText(GREETING_LABEL, greetingForHour(platform::Clock::now().time().hour()));
}

void MAIN_FRM::catchUpWithDay()
{
    // A window of ours that is open keeps the day it was opened on; the day turns when it closes.
    if (!m_dayTurnPending || QApplication::activeModalWidget())
        return;
    setDay();
    refresh();
}

void MAIN_FRM::showPicture()
{
    platform::reported(this, [this] { SEC_PICT->load(m_module.SEC_PIC_PATH); });
}

void MAIN_FRM::refresh()
{
    // A picture that cannot be loaded is reported, and the name and count are still brought
    // up to date: they do not depend on it.
    showPicture();
    platform::setLabelText(NAME_LABEL, m_module.SEC_NAME_STR + QStringLiteral("："));
    // A screen reader names the picture after the secretary it shows.
    SEC_PICT->setAccessibleName(m_module.SEC_NAME_STR);
    platform::reported(this, [this] {
        platform::Recordset rs = m_module.db().openRecordset(store::countTodaySql(m_module.TODAY_STR));
        if (rs.eof()) {
            setTodayListEnabled(false);
            platform::setLabelText(TELL_LABEL, kNoAppointment);
            m_resident->showToday(0, SEC_PICT->picture());
        } else {
            rs.moveLast();
            const qint16 count = platform::toInt16(rs.recordCount());
            setTodayListEnabled(true);
            platform::setLabelText(TELL_LABEL, QString::number(count) + kAppointments);
            m_resident->showToday(count, SEC_PICT->picture());
        }
        planReminders();
    });
    m_sync->update();
    if (m_schedule)
        m_schedule->refresh();
}

void MAIN_FRM::planReminders()
{
    m_reminders->plan(state::noticeMinutes());
}

void MAIN_FRM::openAppointment(qint64 id)
{
    // A window of ours that is open keeps the user where they are: the appointment can wait.
    if (QApplication::activeModalWidget()) {
        bringToFront();
        return;
    }
    std::optional<store::PLAN_REC> row;
    if (!platform::reported(this, [&] { row = store::find(m_module.db(), id); }) || !row)
        return;
    {
        PLAN_FRM form(m_module, this);
        if (form.prepareChange({id, *row}))
            form.exec();
    }
    if (m_dayTurnPending)
        setDay();
    refresh();
    m_sync->changed();
}

void MAIN_FRM::bringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MAIN_FRM::setTodayListEnabled(bool enabled)
{
    mnuConfirm->setEnabled(enabled);
    m_listenButton->setEnabled(enabled);
}

template <class Dialog> void MAIN_FRM::openDialog()
{
    {
        Dialog dialog(m_module, this);
        if (dialog.prepare())
            dialog.exec();
    }
    if (m_dayTurnPending)
        setDay();
    refresh();
    m_sync->changed();
}

void MAIN_FRM::mnuConfirm_Click()
{
    // A shortcut can still arrive from a queued key press after the item was disabled.
    if (!mnuConfirm->isEnabled())
        return;
    openDialog<LISTEN_FRM>();
}

void MAIN_FRM::mnuSche_Click()
{
    openDialog<PLAN_FRM>();
}

void MAIN_FRM::mnuSet_Click()
{
    openDialog<SETTING_FRM>();
}

void MAIN_FRM::mnuVersion_Click()
{
    openDialog<VER_FRM>();
}

void MAIN_FRM::mnuData_Click()
{
    if (!platform::askYesNo(this, kPurgeQuestion, kPurgeTitle, platform::MsgAnswer::Yes))
        return;
    if (!platform::reported(this, [this] {
            m_module.db().execute(store::purgeOnDemandSql(m_module.TODAY_STR));
            store::purgeEndedSeries(m_module.db(), platform::Clock::now().date());
        }))
        return;
    platform::messageBox(this, {kPurged, platform::programTitle(), platform::MsgIcon::None, platform::MsgButtons::Ok,
                                platform::MsgAnswer::Ok});
}

void MAIN_FRM::mnuExit_Click()
{
    m_resident->leave();
    // A window the tray has hidden ends nothing by closing: the program is ended here.
    if (close())
        QCoreApplication::quit();
}

void MAIN_FRM::Toolbar1_ButtonClick(const QString& key)
{
    if (key == QLatin1String("listen"))
        mnuConfirm_Click();
    else if (key == QLatin1String("delete"))
        mnuData_Click();
    else if (key == QLatin1String("plan"))
        mnuSche_Click();
    else if (key == QLatin1String("sec"))
        mnuSet_Click();
    else if (key == QLatin1String("door"))
        mnuExit_Click();
}

void MAIN_FRM::closeEvent(QCloseEvent* event)
{
    if (m_resident->staysOnClose()) {
        // Only the window goes: the database, the reminders and the sync stay with the tray.
        event->ignore();
        hide();
        return;
    }
    // What the server has confirmed is noted before the database goes.
    m_sync->stop();
    m_module.SEC_DB.reset();
    event->accept();
}

void MAIN_FRM::pictureMoved()
{
    if (!PICT_DOWN || m_warningShown)
        return;
    m_warningShown = true;
    // A box without a title would read as the settings' application name: with no name the
    // secretary speaks as the program.
    platform::showWarning(this, m_module.MY_NAME_STR + kStop,
                          m_module.SEC_NAME_STR.isEmpty() ? platform::programTitle() : m_module.SEC_NAME_STR);
    m_warningShown = false;
    PICT_DOWN = false;
}

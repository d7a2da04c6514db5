// The week and the month as the user meets them: where the blocks stand, the keys, the double
// clicks into the entry form, the names a screen reader speaks, and the main window's part.
#include "schedule_view/period_views.h"
#include "schedule_view/schedule_tiles.h"
#include "schedule_view/schedule_window.h"
#include "support/test_env.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using schedule::Tile;

namespace {

const QDateTime kNow(QDate(2027, 1, 13), QTime(10, 30)); // a Wednesday
const QString kRows = "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2027/01/11','10','00','会議',0,'本社',''),"
                      "('2027/01/13','09','30','来客',1,'',''), ('2027/01/13','09','45','電話',1,'',''),"
                      "('2027/01/17','23','45','夜勤',1,'',''), ('2027/01/18','08','00','翌週',1,'','')";
// Appointments with an end: one within its day, one through the night into the next.
const QString kSpans = ";INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE, END_DATE,"
                       " END_HOUR, END_MIN) VALUES ('2027/01/12','13','00','研修',1,'','','2027/01/12','15','30'),"
                       "('2027/01/14','22','00','当直',1,'','','2027/01/15','02','00')";

QString nameOf(QObject* object)
{
    QAccessibleInterface* face = object ? QAccessible::queryAccessibleInterface(object) : nullptr;
    return face ? face->text(QAccessible::Name) : QString("(none)");
}

schedule::PeriodView* periodView(QWidget* window)
{
    return window->findChild<schedule::PeriodView*>(window->findChild<schedule::WeekView*>()->isVisible() ? "weekView" : "monthView");
}

Tile* tileNamed(QWidget* window, const QString& part)
{
    for (Tile* tile : periodView(window)->tiles())
        if (nameOf(tile).contains(part))
            return tile;
    return nullptr;
}

QRect globalRect(const QWidget* w)
{
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// The window over a test folder, its table filled, in the view given, shown and active.
struct Opened {
    testing::TestEnv env{{kNow}};
    state::Module1 module;
    std::unique_ptr<ScheduleWindow> window;
    explicit Opened(const QString& view = "week", const QString& fill = kRows)
    {
        env.exec(fill);
        env.setSetting("SCHEDULE_VIEW", view);
        module.SEC_DB = platform::Database::open(env.dbPath());
        window = std::make_unique<ScheduleWindow>(module);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    QString period() const { return window->findChild<QLabel*>("periodLabel")->text(); }
};

} // namespace

class TestScheduleView : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Each block stands in its day's column, from its time down for half an hour; two that overlap
    // share the column side by side. The week opens on the working morning.
    void week_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("day");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("lane"); // 0 whole column, 1 left half, 2 right half
        QTest::addColumn<int>("end");  // the minute of its day where the block ends
        QTest::newRow("holiday, high") << "1月11日（月）10時00分 会議 本社 重要度高" << "2027年1月11日（月）成人の日 1件" << 600 << 0 << 630;
        QTest::newRow("first of two") << "1月13日（水）09時30分 来客" << "2027年1月13日（水） 2件" << 570 << 1 << 600;
        QTest::newRow("second of two") << "1月13日（水）09時45分 電話" << "2027年1月13日（水） 2件" << 585 << 2 << 615;
        QTest::newRow("late, cut at midnight") << "1月17日（日）23時45分 夜勤" << "2027年1月17日（日） 1件" << 1425 << 0 << 1440;
        QTest::newRow("as long as its end") << "1月12日（火）13時00分〜15時30分 研修" << "2027年1月12日（火） 1件" << 780 << 0 << 930;
        QTest::newRow("through the night") << "1月14日（木）22時00分〜1月15日02時00分 当直" << "2027年1月14日（木） 1件" << 1320 << 0 << 1440;
        QTest::newRow("the night's morning") << "1月15日（金）00時00分〜02時00分 当直" << "2027年1月15日（金） 1件" << 0 << 0 << 120;
    }
    void week()
    {
        QFETCH(QString, block);
        QFETCH(QString, day);
        QFETCH(int, minute);
        QFETCH(int, lane);
        QFETCH(int, end);
        Opened w("week", kRows + kSpans);
        QCOMPARE(w.period(), "2027年1月11日〜1月17日");
        QCOMPARE(periodView(w.window.get())->tiles().size(), 7 + 7);
        Tile* tile = tileNamed(w.window.get(), block);
        Tile* heading = tileNamed(w.window.get(), day);
        QVERIFY2(tile && heading, qPrintable(block + " / " + day));
        auto* grid = w.window->findChild<schedule::HourGrid*>();
        const double hour = (grid->height() - 1) / 24.0;
        const QRect column = globalRect(heading), shown = globalRect(tile);
        QCOMPARE(shown.left() < column.center().x(), lane != 2);
        QCOMPARE(shown.right() > column.center().x(), lane != 1);
        QVERIFY(column.left() <= shown.left() && shown.right() <= column.right());
        QVERIFY(qAbs(tile->y() - minute * hour / 60) <= 2);
        QVERIFY(qAbs(end * hour / 60 - tile->geometry().bottom()) <= 2);
        QVERIFY(qAbs(w.window->findChild<QScrollArea*>()->verticalScrollBar()->value() - 8 * hour) <= 1);
        QCOMPARE(nameOf(QApplication::focusWidget()), "2027年1月13日（水） 2件");
    }

    // A day shows the lines it has room for and "他N件" for the rest, all within the day; in a
    // taller window every one has a line. "他N件" opens the day's week on the first without a line.
    void month()
    {
        Opened w("month", "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 6)"
                          " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT '2027/01/15', printf('%02d', 8 + i), '00', '打合せ' || i, 1, '', '' FROM n");
        QCOMPARE(w.period(), "2027年1月");
        QCOMPARE(nameOf(periodView(w.window.get())->tiles().first()), "2026年12月28日（月） 0件");
        auto* day = qobject_cast<schedule::MonthDay*>(tileNamed(w.window.get(), "2027年1月15日（金） 6件"));
        QVERIFY(day);
        QStringList lines;
        for (const QSize size : {QSize(900, 1000), QSize(640, 480)}) {
            w.window->resize(size);
            QTRY_COMPARE(day->height() > 150, size.height() > 900);
            for (Tile* part : day->parts()) {
                QVERIFY(globalRect(day).contains(globalRect(part)) || part->isHidden());
                lines << (part->isHidden() ? "-" : nameOf(part));
            }
        }
        const int shown = day->shownCount();
        QVERIFY(shown < 6);
        QCOMPARE(lines.mid(0, 7).join('|'), "1月15日（金）09時00分 打合せ1|1月15日（金）10時00分 打合せ2|1月15日（金）11時00分 打合せ3|"
                                            "1月15日（金）12時00分 打合せ4|1月15日（金）13時00分 打合せ5|1月15日（金）14時00分 打合せ6|-");
        QCOMPARE(lines.mid(7), lines.mid(0, shown) + QStringList(6 - shown, "-") << QString("1月15日（金）他%1件").arg(6 - shown));
        day->parts().back()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(nameOf(QApplication::focusWidget()), lines[shown]);
        QCOMPARE(w.period(), "2027年1月11日〜1月17日");
    }

    // Arrows walk the days and a day's appointments, past the period's edge too; PageUp, PageDown
    // and Home turn the period; "他N件" opens its day's week on the first appointment without a line.
    void keys_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("focused");
        QTest::newRow("down through a day") << "week" << "Down, Down" << "2027年1月11日〜1月17日" << "1月13日（水）09時45分 電話";
        QTest::newRow("tab on") << "week" << "Tab, Tab, Tab" << "2027年1月11日〜1月17日" << "2027年1月14日（木） 0件";
        QTest::newRow("left into last week") << "week" << "Left, Left, Left" << "2027年1月4日〜1月10日" << "2027年1月10日（日） 0件";
        QTest::newRow("page down") << "week" << "PgDown" << "2027年1月18日〜1月24日" << "2027年1月20日（水） 0件";
        QTest::newRow("page up, home") << "week" << "PgUp, Home" << "2027年1月11日〜1月17日" << "2027年1月13日（水） 2件";
        QTest::newRow("button then page") << "week" << "Shift+Tab, Shift+Tab, Shift+Tab, Shift+Tab, Space, PgDown" << "2027年2月" << "月";
        QTest::newRow("month, up a week") << "month" << "Up" << "2027年1月" << "2027年1月6日（水） 0件";
        QTest::newRow("month, page down") << "month" << "PgDown" << "2027年2月" << "2027年2月13日（土） 0件";
        QTest::newRow("month, down into the next") << "month" << "Right, Right, Right, Right, Down, Down, Down, Down, Down"
                                                   << "2027年2月" << "2027年2月14日（日） 0件";
    }
    void keys()
    {
        QFETCH(QString, view);
        QFETCH(QString, keys);
        QFETCH(QString, period);
        QFETCH(QString, focused);
        Opened w(view);
        for (const QString& key : keys.split(", ")) {
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(nameOf(QApplication::focusWidget()), focused);
        QCOMPARE(w.period(), period);
    }

    // A double click on an empty half hour of the week, or on a day of the month, opens the entry
    // form on that day and time; what is saved there shows once it closes. On an appointment it
    // opens the change; Delete asks as the lists do and deletes that row alone.
    void doubleClick_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QPoint>("at"); // within the target
        QTest::addColumn<QString>("form"); // caption, date, hour, minute, subject
        QTest::newRow("week, empty half hour") << "week" << "hours" << QPoint(-1, 14 * 60 + 35) << "予定設定|2027/01/14|14|30|";
        QTest::newRow("month, empty day") << "month" << "2027年1月22日" << QPoint(5, -5) << "予定設定|2027/01/22|00|00|";
        QTest::newRow("week, block") << "week" << "1月13日（水）09時45分" << QPoint(5, 5) << "予定変更|2027/01/13|09|45|電話";
    }
    void doubleClick()
    {
        QFETCH(QString, view);
        QFETCH(QString, target);
        QFETCH(QPoint, at);
        QFETCH(QString, form);
        Opened w(view);
        QWidget* widget = target == "hours" ? static_cast<QWidget*>(w.window->findChild<schedule::HourGrid*>())
                                            : tileNamed(w.window.get(), target);
        QVERIFY(widget);
        if (at.x() < 0) { // Thursday's column, at a minute of the day
            const QRect column = globalRect(tileNamed(w.window.get(), "2027年1月14日"));
            at = QPoint(widget->mapFromGlobal(column.center()).x(), at.y() * (widget->height() - 1) / 1440);
        } else if (at.y() < 0) {
            at.setY(widget->height() + at.y());
        }
        QStringList seen;
        testing::onNextModal([&](QWidget* modal) {
            for (const char* name : {"DATE_DTP", "HOUR_LST", "MIN_LST", "DETAIL_TEXT"}) {
                QWidget* c = modal->findChild<QWidget*>(name);
                seen << (qobject_cast<QDateEdit*>(c) ? qobject_cast<QDateEdit*>(c)->text()
                         : qobject_cast<QComboBox*>(c) ? qobject_cast<QComboBox*>(c)->currentText()
                                                       : qobject_cast<QLineEdit*>(c)->text());
            }
            modal->findChild<QLineEdit*>("DETAIL_TEXT")->setText("新しい用件");
            modal->findChild<QPushButton*>("OK_BTN")->click();
            modal->findChild<QPushButton*>("CLOSE_BTN")->click();
            seen.prepend(modal->windowTitle());
        });
        QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
        QTRY_COMPARE(seen.join('|'), form);
        QTRY_VERIFY(tileNamed(w.window.get(), QString("%1 新しい用件").arg(form.startsWith("予定変更") ? "09時45分" : "")));
        // The new or changed row, deleted again from the keyboard.
        w.env.answer(platform::MsgAnswer::Yes);
        const auto tiles = periodView(w.window.get())->tiles();
        Tile* made = *std::ranges::find_if(tiles, [](Tile* t) { return nameOf(t).contains("新しい用件"); });
        made->setFocus();
        QTest::keyClick(made, Qt::Key_Delete);
        QTRY_COMPARE(w.env.count("P_DETAIL = '新しい用件'"), 0);
        QCOMPARE(w.env.told(), QStringList{"この予定を削除しますか？ [削除確認, icon 1, yes/no]"});
        QCOMPARE(w.env.count(), 5 - int(form.startsWith("予定変更")));
    }

    // What a screen reader says for a block with an end, without one, of a whole day.
    void names_data()
    {
        QTest::addColumn<QTime>("end");
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<QString>("name");
        QTest::newRow("with an end") << QTime(11, 0) << false << "12月8日（火）10時00分〜11時00分 会議 本社";
        QTest::newRow("without") << QTime() << false << "12月8日（火）10時00分 会議 本社";
        QTest::newRow("all day") << QTime() << true << "12月8日（火）終日 会議 本社";
    }
    void names()
    {
        QFETCH(QTime, end);
        QFETCH(bool, allDay);
        QFETCH(QString, name);
        schedule::Appointment a{1, QDate(2026, 12, 8), QTime(10, 0), std::nullopt, allDay, "会議", "本社", 1};
        if (end.isValid())
            a.end = QDateTime(a.date, end);
        schedule::AppointmentTile tile(a, schedule::AppointmentTile::Look::Block, nullptr);
        QCOMPARE(nameOf(&tile), name);
    }

    // From the main window: the command, a change made in another window drawn once that closes,
    // and the size, place and view kept for the next opening. The entry form's calendar marks
    // Saturdays, Sundays and holidays.
    void fromMainWindow()
    {
        testing::TestEnv env{{kNow}};
        testing::StartedMain main;
        QAction* action = main.action("actionSchedule");
        QCOMPARE(action->text(), "予定表(&V)…");
        action->trigger();
        auto* window = main.window.findChild<ScheduleWindow*>();
        QVERIFY(window && window->isVisible());
        testing::onNextModal([&](QWidget* form) {
            auto* calendar = form->findChild<QDateEdit*>("DATE_DTP")->calendarWidget();
            QCOMPARE(calendar->weekdayTextFormat(Qt::Saturday).foreground().color(), QColor(0x1a, 0x4f, 0xc4));
            QCOMPARE(calendar->weekdayTextFormat(Qt::Sunday).foreground().color(), QColor(0xd0, 0x1c, 0x1c));
            QCOMPARE(calendar->dateTextFormat(QDate(2027, 1, 11)).toolTip(), "成人の日");
            calendar->setCurrentPage(2027, 5);
            QCOMPARE(calendar->dateTextFormat(QDate(2027, 5, 4)).toolTip(), "みどりの日");
            form->findChild<QLineEdit*>("DETAIL_TEXT")->setText("朝礼");
            form->findChild<QPushButton*>("OK_BTN")->click();
            form->findChild<QPushButton*>("CLOSE_BTN")->click();
        });
        main.window.mnuSche_Click();
        QVERIFY(tileNamed(window, "1月13日（水）00時00分 朝礼"));
        QCOMPARE(main.label("TELL_LABEL"), "1件の予定が入っています。");
        window->findChild<QPushButton*>("monthButton")->click();
        window->resize(700, 500);
        window->close();
        QTRY_VERIFY(!main.window.findChild<ScheduleWindow*>());
        action->trigger();
        window = main.window.findChild<ScheduleWindow*>();
        QCOMPARE(window->size(), QSize(700, 500));
        QCOMPARE(window->view(), ScheduleWindow::View::Month);
    }
};

QTEST_MAIN(TestScheduleView)
#include "test_schedule_view.moc"

// The sync's plan over the interleavings of adding, changing and deleting on each side, from one
// calendar in step: an event of ours, a weekly series with two rows here, an event another
// program wrote, one dated before today, one dated today and one that began before today and
// ends today. No server, no database: the engine's tests prove that the actions do what they say.
#include "support/test_env.h"

#include "sync/sync_planner.h"

#include <QTest>

using calsync::Action;
using testing::rec;

namespace {

const QString kCal = QStringLiteral("/cal/");

struct World {
    calsync::PlanInput in;

    void row(qint64 id, const store::PLAN_REC& r, const QString& event)
    {
        in.rows.push_back({id, QString("u%1").arg(id), r});
        if (!event.isEmpty())
            in.links.insert(id, {kCal + event + ".ics", r.lastDay(), store::digest(r)});
    }
    // The server's version of a remembered event, changed: each of its rows' subjects marked.
    calsync::Fetched changedThere(const QString& event)
    {
        calsync::Fetched f{"2", event == "f" ? "f@elsewhere" : event, event == "s", {}, {}};
        for (const calsync::LocalRow& r : in.rows)
            if (in.links.value(r.id).href == kCal + event + ".ics")
                f.rows.push_back({r.rec, f.uid}), f.rows.back().rec.P_DETAIL += "（変更）";
        return f;
    }
};

World inStep()
{
    World w;
    w.in.calendarPath = kCal;
    w.in.today = "2000/04/15";
    for (const QString event : {"1", "s", "f", "p", "t", "m"})
        w.in.items.insert(kCal + event + ".ics", {event == "f" ? "f@elsewhere" : event, "\"1\"", event == "s"});
    w.row(1, rec("2000/04/20", "10", "00", "会議"), "1");
    w.row(2, rec("2000/04/20", "09", "00", "週例"), "s");
    w.row(3, rec("2000/04/27", "09", "00", "週例"), "s");
    w.row(4, rec("2000/04/21", "11", "00", "よそ"), "f");
    w.row(5, rec("2000/04/10", "12", "00", "過去"), "p");
    w.row(6, rec("2000/04/15", "13", "00", "今日"), "t");
    w.row(8, testing::until(rec("2000/04/14", "00", "00", "連休"), "2000/04/15"), "m");
    return w;
}

// Each action as "kind row>event uid etag day", with what each kind carries.
QString described(const calsync::Plan& plan)
{
    const QStringList kinds{"fetch", "forget", "remember", "link", "take-in", "delete-here", "keep-both", "spare",
                            "unreadable", "unlink", "put-new", "put", "delete-there"};
    QStringList out;
    const auto name = [](const QString& href) { return href.mid(kCal.size()).chopped(4); };
    for (const Action& a : plan.actions) {
        const bool withEvent = a.kind == Action::Link || a.kind == Action::PutChanged || a.kind == Action::DeleteThere;
        const QString row = a.rowId ? QString::number(a.rowId) + (withEvent ? ">" + name(a.href) : "") : name(a.href);
        const QString uid = a.kind == Action::PutNew ? (a.uid.isEmpty() ? "fresh" : name(a.href))
            : a.kind == Action::Remember || a.kind == Action::PutChanged ? a.uid : "";
        const QString subject = a.kind == Action::TakeIn ? ":" + a.rec.P_DETAIL : "";
        out << QStringList{kinds[a.kind], row + subject, uid, a.etag, a.day}.join(' ').trimmed().replace("  ", " ");
    }
    return (plan.emptied ? "emptied: " : "") + out.join("; ");
}

} // namespace

class TestSyncPlanner : public QObject {
    Q_OBJECT
private slots:
    // here: -N deletes row N, ~N changes its notice, +N adds a row dated 2000/04/22 (+N@date
    // another day), twin adds row 9 with the values of the new event n, dup adds row 7 with the
    // UID of event 1. there: +n is a new event, ~E changes event E, -E deletes it, ?E makes it
    // unreadable, ! loses the whole calendar. listing: none (the token did not move), token or
    // whole; keep: the user said no to deleting here.
    void plan_data()
    {
        QTest::addColumn<QString>("here");
        QTest::addColumn<QString>("there");
        QTest::addColumn<QString>("listing");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QString>("fetches");
        QTest::addColumn<QString>("actions");
        const QString takeIn1 = "forget 1; take-in 1:会議（変更）";
        QTest::newRow("in step") << "" << "" << "none" << false << "" << "";
        QTest::newRow("in step, whole listing") << "" << "" << "whole" << false << "" << "";
        QTest::newRow("added here") << "+7" << "" << "none" << false << "" << "put-new 7 u7";
        QTest::newRow("added here, before today") << "+7@2000/04/14" << "" << "none" << false << "" << "";
        QTest::newRow("added here, UID taken") << "dup" << "" << "none" << false << "" << "put-new 7 fresh";
        QTest::newRow("changed here") << "~1" << "" << "none" << false << "" << "put 1>1 1 \"1\"";
        QTest::newRow("changed here, foreign") << "~4" << "" << "none" << false << "" << "put 4>f f@elsewhere \"1\"";
        QTest::newRow("changed here, instance") << "~2" << "" << "none" << false << "" << "unlink 2; put-new 2 u2";
        QTest::newRow("deleted here") << "-1" << "" << "none" << false << "" << "delete-there 1>1 \"1\" 2000/04/20";
        QTest::newRow("deleted here, today") << "-6" << "" << "none" << false << "" << "delete-there 6>t \"1\" 2000/04/15";
        QTest::newRow("deleted here, began before today, ends today") << "-8" << "" << "none" << false << "" << "delete-there 8>m \"1\" 2000/04/15";
        QTest::newRow("deleted here, before today") << "-5" << "" << "none" << false << "" << "unlink 5";
        QTest::newRow("deleted here, instance") << "-3" << "" << "none" << false << "" << "unlink 3";
        QTest::newRow("added there") << "" << "+n" << "token" << false << "fetch n" << "forget n; take-in n:新; remember n n \"1\"";
        QTest::newRow("added on both sides alike") << "twin" << "+n" << "token" << false << "fetch n" << "forget n; link 9>n; remember n n \"1\"";
        QTest::newRow("changed there") << "" << "~1" << "token" << false << "fetch 1" << takeIn1 + "; delete-here 1; remember 1 1 2";
        QTest::newRow("changed there, series") << "" << "~s" << "whole" << false << "fetch s" << "forget s; take-in s:週例（変更）; take-in s:週例（変更）; delete-here 2; delete-here 3; remember s s 2";
        QTest::newRow("changed there, foreign") << "" << "~f" << "token" << false << "fetch f" << "forget f; take-in f:よそ（変更）; delete-here 4; remember f f@elsewhere 2";
        QTest::newRow("deleted there") << "" << "-1" << "token" << false << "" << "forget 1; delete-here 1";
        QTest::newRow("deleted there, whole listing") << "" << "-1" << "whole" << false << "" << "forget 1; delete-here 1";
        QTest::newRow("deleted there, series") << "-2" << "-s" << "token" << false << "" << "forget s; delete-here 3";
        QTest::newRow("changed on both sides") << "~1" << "~1" << "token" << false << "fetch 1" << takeIn1 + "; keep-both 1; remember 1 1 2; put-new 1 u1";
        QTest::newRow("changed here, deleted there") << "~1" << "-1" << "token" << false << "" << "forget 1; keep-both 1; put-new 1 u1";
        QTest::newRow("deleted here, changed there") << "-1" << "~1" << "token" << false << "fetch 1" << takeIn1 + "; remember 1 1 2";
        QTest::newRow("deleted on both sides") << "-1" << "-1" << "token" << false << "" << "forget 1";
        QTest::newRow("changed there, unreadable") << "" << "?1" << "token" << false << "fetch 1" << "unreadable 1";
        QTest::newRow("unreadable there, changed here") << "~1" << "?1" << "whole" << false << "fetch 1" << "unreadable 1; put 1>1 1 \"1\"";
        QTest::newRow("each side adds, changes, deletes") << "+7 ~4 -6" << "+n ~1 -s" << "token" << false << "fetch n; fetch 1"
            << "forget s; delete-here 2; delete-here 3; forget n; take-in n:新; remember n n \"1\"; " + takeIn1 + "; delete-here 1; remember 1 1 2; put 4>f f@elsewhere \"1\"; delete-there 6>t \"1\" 2000/04/15; put-new 7 u7";
        QTest::newRow("calendar lost") << "" << "!" << "whole" << false << "" << "emptied: forget 1; delete-here 1; forget f; delete-here 4; forget m; delete-here 8; forget p; delete-here 5; forget s; delete-here 2; delete-here 3; forget t; delete-here 6";
        QTest::newRow("calendar lost, rows kept") << "~1" << "!" << "whole" << true << "" << "emptied: forget 1; keep-both 1; forget f; spare 4; forget m; spare 8; forget p; spare 5; forget s; spare 2; spare 3; forget t; spare 6; put-new 1 u1";
    }
    void plan()
    {
        QFETCH(QString, here);
        QFETCH(QString, there);
        QFETCH(QString, listing);
        QFETCH(bool, keep);
        QFETCH(QString, fetches);
        QFETCH(QString, actions);
        World w = inStep();
        const auto nextEvent = calsync::Fetched{"\"1\"", "n", false, {{rec("2000/04/23", "09", "00", "新"), "n"}}, {}};
        QHash<QString, calsync::Fetched> server;
        QSet<QString> gone;
        for (const QString& change : there.split(' ', Qt::SkipEmptyParts)) {
            const QString event = change.mid(1);
            if (change == "+n")
                server.insert(kCal + "n.ics", nextEvent);
            else if (change.startsWith('~'))
                server.insert(kCal + event + ".ics", w.changedThere(event));
            else if (change.startsWith('?'))
                server.insert(kCal + event + ".ics", {"\"2\"", {}, false, {}, "読めません"});
            else if (change == "!")
                gone = QSet<QString>(w.in.items.keyBegin(), w.in.items.keyEnd());
            else
                gone.insert(kCal + event + ".ics");
        }
        for (const QString& change : here.split(' ', Qt::SkipEmptyParts)) {
            const qint64 id = change.mid(1, 1).toLongLong();
            if (change == "twin")
                w.row(9, nextEvent.rows.front().rec, {});
            else if (change == "dup")
                w.in.rows.push_back({7, "1", rec("2000/04/22", "10", "00", "新規")});
            else if (change.startsWith('+'))
                w.row(id, rec(change.contains('@') ? change.section('@', 1) : "2000/04/22", "10", "00", "新規"), {});
            else if (change.startsWith('~'))
                std::find_if(w.in.rows.begin(), w.in.rows.end(), [id](const auto& r) { return r.id == id; })->rec.P_NOTICE = "こちら";
            else
                std::erase_if(w.in.rows, [id](const calsync::LocalRow& r) { return r.id == id; });
        }
        w.in.listed = listing != "none";
        w.in.keepRows = keep;
        w.in.whole = listing == "whole";
        // The listing as each kind names it: the changed events, and either the gone ones
        // (token) or all the others (whole).
        for (auto it = server.cbegin(); it != server.cend(); ++it)
            w.in.listing.push_back({it.key(), it->etag});
        for (auto it = w.in.items.cbegin(); it != w.in.items.cend(); ++it)
            if (listing == "token" && gone.contains(it.key()))
                w.in.listing.push_back({it.key(), {}, true});
            else if (listing == "whole" && !gone.contains(it.key()) && !server.contains(it.key()))
                w.in.listing.push_back({it.key(), it->etag});
        std::sort(w.in.listing.begin(), w.in.listing.end(), [](const auto& a, const auto& b) { return a.href > b.href; });
        QCOMPARE(described(calsync::plan(w.in)), fetches.isEmpty() ? actions : fetches);
        w.in.fetched = server;
        w.in.fetchDone = true;
        QCOMPARE(described(calsync::plan(w.in)), actions);
    }
};

QTEST_GUILESS_MAIN(TestSyncPlanner)
#include "test_sync_planner.moc"

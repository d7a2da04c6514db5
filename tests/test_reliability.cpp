// What the program keeps whatever happens around it, each tried for real. Another program holding
// sec.mdb: each command fails within the busy time-out with the Japanese description of a lock,
// changes nothing and works once the other lets go. Files that are not what they should be (a
// sec.mdb that is no database or cannot be written, broken or enormous pictures, a pipe, a settings
// store that does not parse): the program says what went wrong, stays usable, keeps its memory
// bounded and changes nothing it could not use. Hostile text typed or pasted into the entry form:
// stored, read back exactly and shown as text, or refused with its message.
#include "plan_entry/plan_frm.h"
#include "platform/settings_store.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>
#include <sys/stat.h>

#include <optional>

using platform::MsgAnswer;
using platform::MsgIcon;
using testing::box;
using testing::rec;
using testing::TestEnv;

namespace {
const QString kLocked = QStringLiteral("データベースがほかのプログラムに使われています（ロック中）。しばらくしてからやり直してください。");

// Another program in the middle of a write, holding the file exclusively: readers are kept out
// as well as writers, so every command meets it.
struct OtherProgram {
    sqlite3* db = nullptr;
    explicit OtherProgram(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN EXCLUSIVE; INSERT INTO PLAN_DAT VALUES ('2000/04/15','12','00','他',1,'','')",
                     nullptr, nullptr, nullptr);
    }
    ~OtherProgram() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), sqlite3_close(db); }
};

// A window opened as the main window opens it, on a connection of its own.
template <class Dialog> struct Opened {
    state::Module1 module;
    std::unique_ptr<Dialog> dialog;
    explicit Opened(const QString& dbPath)
    {
        module.SEC_DB = platform::Database::open(dbPath);
        module.TODAY_STR = "2000/04/15";
        dialog = std::make_unique<Dialog>(module);
        dialog->prepare();
        dialog->show();
    }
};
const QString kNotOpen = QStringLiteral("データベースが開かれていません。");

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, 0);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// The names and bytes of what lies at path and beside it (journals), to show nothing changed.
QString fingerprint(const QString& path)
{
    QString result;
    const QFileInfo info(path);
    for (const QFileInfo& e : info.dir().entryInfoList({info.fileName() + '*'}, QDir::AllEntries | QDir::Hidden))
        result += e.fileName() + QCryptographicHash::hash(testing::bytesOf(e.filePath()), QCryptographicHash::Sha1).toHex();
    return result;
}

QByteArray encoded(const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImage(QStringLiteral(":/girl.gif")).convertToFormat(QImage::Format_RGB32).save(&buffer, format);
    return buffer.data();
}

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').first().toLongLong();
}
// Puts the text in as the user would: pasted, or committed by the input method.
void enter(QLineEdit* field, const QString& text, bool pasted)
{
    field->clear();
    field->setFocus();
    QGuiApplication::clipboard()->setText(text);
    QInputMethodEvent event;
    event.setCommitString(text);
    pasted ? QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier) : (void)QApplication::sendEvent(field, &event);
}

void inputs()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("subjectRefusal");
    const QString nul(QChar(0));
    QTest::newRow("one quote") << "'" << false << "";
    QTest::newRow("always-true condition") << "x' OR '1'='1" << false << "";
    QTest::newRow("dropping the table") << "'; DROP TABLE PLAN_DAT; --" << false << "";
    QTest::newRow("backslashes and a quote") << "\\'\\\\" << false << "";
    QTest::newRow("NUL first, then a quote") << nul + "'x" << false << "";
    QTest::newRow("emoji and right-to-left marks") << "\U0001F600\u202E議\u200F" << false << "";
    QTest::newRow("an image of /dev/zero") << "<img src=\"/dev/zero\">" << false << "";
    QTest::newRow("bold and an entity") << "<b>&amp;</b>" << true << "";
    QTest::newRow("ideographic spaces only")
        << "\u3000\u3000" << false << box("用件を入力して下さい。", "入力ｴﾗｰ", MsgIcon::Exclamation);
    QTest::newRow("pasted line break") << "山\n田" << true << "";
}
} // namespace

class TestReliability : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void underAHold_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<QStringList>("after"); // the table once the command ran again, hold gone
        const QString past = "2000/04/14|18|00|昨日|1||", meeting = "2000/04/15|09|00|会議|1||",
                      guest = "2000/04/15|10|30|来客|1||", added = "2000/04/15|00|00|打合せ|1||";
        QTest::newRow("start-up purge and count") << "start" << 2 << QStringList{meeting, guest};
        QTest::newRow("save") << "save" << 1 << QStringList{meeting, guest, past, added};
        QTest::newRow("deletion") << "delete" << 1 << QStringList{guest, past};
        QTest::newRow("purge on demand") << "purge" << 1 << QStringList{meeting, guest};
    }
    void underAHold()
    {
        QFETCH(QString, command);
        QFETCH(int, refusals);
        QFETCH(QStringList, after);
        TestEnv env;
        env.insert(rec("2000/04/15", "09", "00", "会議"));
        env.insert(rec("2000/04/15", "10", "30", "来客"));
        std::optional<testing::StartedMain> main;
        if (command != "start")
            main.emplace();
        env.insert(rec("2000/04/14", "18", "00", "昨日")); // entered after start-up, to be purged
        Opened<PLAN_FRM> form(env.dbPath());
        Opened<LISTEN_FRM> list(env.dbPath());
        form.dialog->findChild<QLineEdit*>("DETAIL_TEXT")->setText("打合せ");
        const QHash<QString, std::function<void()>> commands{
            {"start", [&] { main.emplace(); }},
            {"save", [&] { form.dialog->findChild<QPushButton*>("OK_BTN")->click(); }},
            {"delete", [&] { env.answer(MsgAnswer::Yes), QTest::keyClick(list.dialog->findChild<QListWidget*>(), Qt::Key_Delete); }},
            {"purge", [&] { env.answer(MsgAnswer::Yes), main->action("mnuData")->trigger(); }},
        };
        const QStringList before = env.table();
        env.clearShown();
        {
            OtherProgram other(env.dbPath());
            commands[command]();
        }
        QStringList told = env.told();
        told.removeAll(testing::box("この予定を削除しますか？", "削除確認", platform::MsgIcon::Question, platform::MsgButtons::YesNo));
        told.removeAll(testing::box("昨日以前のデータを削除しますか？", "ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ", platform::MsgIcon::Question,
                                    platform::MsgButtons::YesNo));
        QCOMPARE(told, QStringList(refusals, kLocked));
        QCOMPARE(env.table(), before);
        QCOMPARE(form.dialog->findChild<QLineEdit*>("DETAIL_TEXT")->text(), "打合せ");
        QCOMPARE(list.dialog->findChild<QListWidget*>()->count(), 2);

        commands[command]();
        QCOMPARE(env.table(), after);
    }

    // A sec.mdb the program cannot use: start-up and the first count say why, the purge on
    // demand says so instead of claiming success, and the file is exactly as it was.
    void badDatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("told");
        const QString damaged = "データベースのファイルではないか、ファイルが壊れています。";
        const QString readOnly = "データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。";
        QTest::newRow("random bytes") << "random" << QStringList{damaged, kNotOpen, kNotOpen};
        QTest::newRow("first half of a database") << "truncated" << QStringList{damaged, kNotOpen, kNotOpen};
        QTest::newRow("folder named sec.mdb")
            << "folder"
            << QStringList{"データベースのファイルを開けません（ファイルがないか、ファイルまたはフォルダーにアクセスできません）。",
                           kNotOpen, kNotOpen};
        QTest::newRow("empty file") << "empty" << QStringList(3, "no such table: PLAN_DAT");
        QTest::newRow("read-only, a past appointment kept") << "read-only" << QStringList{readOnly, readOnly};
    }
    void badDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, told);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) INSERT INTO PLAN_DAT"
                 " SELECT '2000/04/15', '10', '00', '用件' || i, 1, printf('%.100c', '場'), '' FROM n");
        const QString db = env.dbPath();
        const QByteArray whole = testing::bytesOf(db);
        const QHash<QString, std::function<void()>> spoil{
            {"random", [&] { QVERIFY(testing::writeBytes(db, randomBytes(8192, 4))); }},
            {"truncated", [&] { QVERIFY(testing::writeBytes(db, whole.left(whole.size() / 2))); }},
            {"folder", [&] { QVERIFY(QFile::remove(db) && QDir().mkdir(db)); }},
            {"empty", [&] { QVERIFY(testing::writeBytes(db, {})); }},
            {"read-only", [&] { QVERIFY(QFile::setPermissions(db, QFile::ReadOwner)); }},
        };
        spoil[kind]();
        const QString before = fingerprint(db);
        {
            testing::StartedMain main;
            env.answer(platform::MsgAnswer::Yes);
            main.action("mnuData")->trigger();
        }
        QStringList shown = env.told();
        shown.removeAt(shown.size() - 2); // the purge's question
        QCOMPARE(shown, told);
        QCOMPARE(fingerprint(db), before);
    }

    // A broken picture as the stored picture at start-up is reported by start-up and the first
    // refresh, and start-up goes on; chosen in the settings window it is passed over silently.
    // Memory stays bounded whatever size a header claims.
    void brokenPicture_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("chosen");
        const QByteArray jpg = encoded("JPG");
        QByteArray hugeJpg = jpg;
        const qsizetype frame = hugeJpg.indexOf(QByteArray("\xff\xc0", 2));
        hugeJpg.replace(frame + 5, 4, QByteArray("\xea\x60\xea\x60", 4)); // 60000 x 60000
        // A BMP information header claiming 60000 x 60000 pixels at 24 bits, and no pixels.
        const QByteArray hugeBmp = QByteArray::fromHex("424d36000000000000003600000028000000"
                                                       "60ea000060ea00000100180000000000000000000000000000000000000000000000");
        const QList<std::pair<const char*, QByteArray>> files{
            {"GIF cut after its header", testing::bytesOf(MERIDOCAL_GIRL_GIF).left(13)},
            {"JPEG cut after 20 bytes", jpg.left(20)},
            {"JPEG claiming 60000 x 60000", hugeJpg},
            {"BMP claiming 60000 x 60000", hugeBmp},
            {"garbage", randomBytes(3000, 3)},
            {"zero bytes", {}},
        };
        for (const auto& [name, bytes] : files) {
            QTest::addRow("%s at start-up", name) << bytes << false;
            QTest::addRow("%s chosen", name) << bytes << true;
        }
    }
    void brokenPicture()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, chosen);
        TestEnv env;
        const QString path = env.path("broken.jpg");
        QVERIFY(testing::writeBytes(path, bytes));
        env.setSetting("SEC_PIC", chosen ? QString() : path);
        env.answerFile(path);
        const qint64 peakBefore = peakKb();
        testing::StartedMain main;
        testing::onNextModal([](QWidget* dialog) {
            dialog->findChild<QPushButton*>("CMD_PICTURE")->click();
            dialog->close();
        });
        main.action("mnuSet")->trigger();
        QVERIFY2(peakKb() - peakBefore < 2 * 64 * 1024, "peak memory grew beyond twice the loader's limit");
        QCOMPARE(env.told().size(), chosen ? 0 : 3); // start-up, the first refresh, the one after the window
        QVERIFY(env.told().filter("broken.jpg").size() == env.told().size());
        QCOMPARE(main.picture(), QImage(QStringLiteral(":/girl.gif")));
        QCOMPARE(main.module.SEC_PIC_PATH, chosen ? env.girlPath() : path);
        QCOMPARE(main.label("DATE_TEXT"), "2000年04月15日");
        QCOMPARE(testing::bytesOf(path), bytes);
    }

    // The picture replaced by a pipe while running: the refresh reports it instead of waiting
    // for bytes that never come.
    void pictureBecomesAPipe()
    {
        TestEnv env;
        const QString path = env.path("pic.gif");
        QVERIFY(QFile::copy(env.girlPath(), path));
        env.setSetting("SEC_PIC", path);
        testing::StartedMain main;
        QVERIFY(QFile::remove(path) && mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        main.window.refresh();
        QCOMPARE(env.told(), QStringList{"通常のファイルではないため、画像として読み込めません。: " + path});
    }

    // A settings store that does not parse: start-up falls back to the defaults and says nothing.
    void unreadableStore()
    {
        TestEnv env;
        QVERIFY(testing::writeBytes(env.settingsPath(), randomBytes(4096, 5)));
        testing::StartedMain main;
        QCOMPARE(env.told(), QStringList());
        QCOMPARE(main.module.SEC_NAME_STR + main.module.MY_NAME_STR, "秘書社長");
    }

    // Into all three fields of the entry form, then read back through the table and today's list,
    // saved again (found as a duplicate) and deleted.
    void entryForm_data() { inputs(); }
    void entryForm()
    {
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(QString, subjectRefusal);
        TestEnv env;
        for (const auto& r : {rec("2000/04/15", "00", "00", "x", 0, "'", "1"), rec("2000/04/16", "00", "00", "1")})
            env.insert(r);
        const QStringList others = env.table();
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = "2000/04/15";
        PLAN_FRM form(module);
        QVERIFY(form.prepare());
        form.show();
        QStringList held;
        for (const char* name : {"PLACE_TEXT", "NOTICE_TEXT", "DETAIL_TEXT"}) {
            CHILD(field, QLineEdit, &form, name);
            enter(field, text, pasted);
            held << field->text();
        }
        QCOMPARE(held[2], pasted ? held[2] : text);
        for (int i = 0; i < 2; ++i) {
            form.findChild<QPushButton*>("OK_BTN")->click();
            enter(form.findChild<QLineEdit*>("DETAIL_TEXT"), held[2], true);
        }
        const QString stored = testing::line(rec("2000/04/15", "00", "00", held[2], 1, held[0], held[1]));
        const QString duplicate = box("同じ用件が存在します。", "ﾃﾞｰﾀ重複ｴﾗｰ", MsgIcon::Exclamation);
        QCOMPARE(env.told(), subjectRefusal.isEmpty() ? QStringList{duplicate} : QStringList(2, subjectRefusal));
        QCOMPARE(env.table(), others + QStringList{stored}.mid(0, subjectRefusal.isEmpty()));

        // Today's list reads it back, the details shown as text; Delete removes that row only.
        LISTEN_FRM list(module);
        QVERIFY(list.prepare());
        list.show();
        CHILD(lines, QListWidget, &list, "DETAIL_LST");
        lines->setCurrentItem(lines->findItems(subjectRefusal.isEmpty() ? held[2] : "x", Qt::MatchExactly).value(0));
        QCOMPARE(lines->currentItem()->text() + list.findChild<QLabel*>("PLACE_LABEL")->text()
                     + list.findChild<QLabel*>("NOTICE_LABEL")->text(),
                 subjectRefusal.isEmpty() ? held[2] + held[0] + held[1] : QString("x'1"));
        env.answer(platform::MsgAnswer::Yes);
        QTest::keyClick(lines, Qt::Key_Delete);
        QCOMPARE(env.table(), others.mid(subjectRefusal.isEmpty() ? 0 : 1));
    }
};

QTEST_MAIN(TestReliability)
#include "test_reliability.moc"

#include "support/test_env.h"

#include "platform/clock.h"
#include "platform/picture.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/window_style.h"
#include "state/module1.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <stdexcept>

namespace testing {
namespace {

void check(int rc, sqlite3* db, const QString& what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error((what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db))).toStdString());
}

struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(const QString& path)
    {
        check(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr), db, path);
        sqlite3_busy_timeout(db, 5000);
    }
    ~Connection() { sqlite3_close(db); }
};

QString where(const QString& condition)
{
    return condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition;
}

} // namespace

void makeDatabase(const QString& path)
{
    QFile schema(QStringLiteral(MERIDOCAL_SCHEMA_FILE));
    if (!schema.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the schema");
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, &error);
    sqlite3_free(error);
    check(rc, db, path);
    sqlite3_close(db);
}

TestEnv::TestEnv() : TestEnv(Options{}) {}

TestEnv::TestEnv(const Options& options)
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        platform::installJapaneseEnvironment(*app);
    platform::setProgramFolder(m_dir.path());
    platform::SettingsStore::useFile(settingsPath());
    platform::Clock::setFixed(options.now);
    if (options.database)
        makeDatabase(dbPath());
    if (options.girl)
        QFile::copy(QStringLiteral(MERIDOCAL_GIRL_GIF), girlPath());

    platform::setMessageHandler([this](const platform::MessageRequest& request) {
        m_shown << request;
        if (whileShown)
            whileShown(request);
        if (request.buttons == platform::MsgButtons::Ok)
            return platform::MsgAnswer::Ok;
        if (m_answers.isEmpty()) {
            ++m_unscripted;
            return platform::MsgAnswer::No;
        }
        return m_answers.takeFirst();
    });
    platform::setFileDialogHandler([this](const platform::FileDialogRequest& request) -> std::optional<QString> {
        m_fileRequests << request;
        return m_files.isEmpty() ? std::nullopt : m_files.takeFirst();
    });
}

TestEnv::~TestEnv()
{
    platform::setMessageHandler({});
    platform::setFileDialogHandler({});
    platform::Clock::useSystem();
    platform::SettingsStore::useFile({});
    platform::setProgramFolder({});
}

void TestEnv::setNow(const QDateTime& now)
{
    platform::Clock::setFixed(now);
}

QStringList TestEnv::prompts() const
{
    QStringList result;
    for (const auto& request : m_shown)
        result << request.prompt;
    return result;
}

void TestEnv::setSetting(const QString& key, const QString& value)
{
    platform::SettingsStore::write(state::kApplication, state::kSection, {{key, value}});
}

QString TestEnv::setting(const QString& key) const
{
    return platform::SettingsStore::read(state::kApplication, state::kSection, key);
}

bool TestEnv::hasSetting(const QString& key) const
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    return settings.contains(state::kSection + QLatin1Char('/') + key);
}

void TestEnv::exec(const QString& sql) const
{
    Connection c(dbPath());
    char* error = nullptr;
    const int rc = sqlite3_exec(c.db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    sqlite3_free(error);
    check(rc, c.db, sql);
}

void TestEnv::insert(const store::PLAN_REC& row) const
{
    Connection c(dbPath());
    sqlite3_stmt* stmt = nullptr;
    check(sqlite3_prepare_v2(c.db,
                             "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE)"
                             " VALUES (?, ?, ?, ?, ?, ?, ?)",
                             -1, &stmt, nullptr),
          c.db, QStringLiteral("insert"));
    const QString texts[] = {row.P_DATE, row.P_HOUR, row.P_MIN, row.P_DETAIL};
    for (int i = 0; i < 4; ++i) {
        const QByteArray utf8 = texts[i].toUtf8();
        sqlite3_bind_text(stmt, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    sqlite3_bind_int(stmt, 5, row.P_IMPORTANCE);
    const QByteArray place = row.P_PLACE.toUtf8();
    const QByteArray notice = row.P_NOTICE.toUtf8();
    sqlite3_bind_text(stmt, 6, place.constData(), int(place.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 7, notice.constData(), int(notice.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    check(rc, c.db, QStringLiteral("insert"));
}

QList<store::PLAN_REC> TestEnv::rows(const QString& condition) const
{
    Connection c(dbPath());
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = (QStringLiteral("SELECT P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE"
                                           " FROM PLAN_DAT")
                            + where(condition) + QStringLiteral(" ORDER BY rowid"))
                               .toUtf8();
    check(sqlite3_prepare_v2(c.db, sql.constData(), -1, &stmt, nullptr), c.db, QString::fromUtf8(sql));
    QList<store::PLAN_REC> result;
    auto text = [stmt](int i) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)), sqlite3_column_bytes(stmt, i));
    };
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        result << store::PLAN_REC{text(0), text(1), text(2), text(3), qint16(sqlite3_column_int(stmt, 4)), text(5), text(6)};
    sqlite3_finalize(stmt);
    check(rc, c.db, QString::fromUtf8(sql));
    return result;
}

int TestEnv::count(const QString& condition) const
{
    return int(rows(condition).size());
}

StartedMain::StartedMain()
{
    window.startUp();
    window.show();
    window.refresh();
}

QString StartedMain::label(const char* name) const
{
    return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

QAction* StartedMain::action(const char* name) const
{
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

QImage StartedMain::picture() const
{
    return window.findChild<platform::PictureBox*>(QStringLiteral("SEC_PICT"))->picture();
}

store::PLAN_REC rec(const QString& date, const QString& hour, const QString& minute, const QString& detail,
                    qint16 importance, const QString& place, const QString& notice)
{
    return {date, hour, minute, detail, importance, place, notice};
}

void onNextModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer(QCoreApplication::instance());
    auto* ticks = new int(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ticks, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal || ++*ticks > 1000) {
            timer->stop();
            timer->deleteLater();
            delete ticks;
            if (modal)
                action(modal);
        }
    });
    timer->start();
}

void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(widget, Qt::Key(key), modifiers);
}

} // namespace testing

#include "support/test_env.h"

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "platform/window_style.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTimer>

#include <sqlite3.h>

#include <stdexcept>

namespace testing {
namespace {

// A connection of the test's own, straight to the engine, so that what the program stored is
// read without the program's help.
struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(const QString& path, int flags = SQLITE_OPEN_READWRITE)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
        sqlite3_busy_timeout(db, 5000);
    }
    ~Connection() { sqlite3_close(db); }
    void check(int rc, const QString& what) const
    {
        if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
            throw std::runtime_error((what + ": " + QString::fromUtf8(sqlite3_errmsg(db))).toStdString());
    }
    void exec(const QByteArray& sql) const { check(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), sql); }
};

} // namespace

void makeDatabase(const QString& path)
{
    QFile schema(QStringLiteral(MERIDOCAL_SCHEMA_FILE));
    if (!schema.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the schema");
    Connection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).exec(schema.readAll());
}

TestEnv::TestEnv() : TestEnv(Options{}) {}

TestEnv::TestEnv(const Options& options)
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        platform::installJapaneseEnvironment(*app);
    platform::setProgramFolder(m_dir.path());
    platform::SettingsStore::useFile(settingsPath());
    platform::Clock::setFixed(options.now);
    // The locks the tests hold on purpose need not be waited for as long as a user would.
    platform::Database::setBusyTimeoutForTests(200);
    if (options.database)
        makeDatabase(dbPath());
    if (options.girl)
        QFile::copy(QStringLiteral(MERIDOCAL_GIRL_GIF), girlPath());
    platform::setMessageHandler([this](const platform::MessageRequest& request) {
        m_shown << request;
        if (request.buttons == platform::MsgButtons::Ok)
            return platform::MsgAnswer::Ok;
        return m_answers.isEmpty() ? platform::MsgAnswer::No : m_answers.takeFirst();
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
    return QSettings(settingsPath(), QSettings::IniFormat).contains(state::kSection + '/' + key);
}

void TestEnv::exec(const QString& sql) const
{
    Connection(dbPath()).exec(sql.toUtf8());
}

void TestEnv::insert(const store::PLAN_REC& row) const
{
    const Connection c(dbPath());
    sqlite3_stmt* stmt = nullptr;
    c.check(sqlite3_prepare_v2(c.db, "INSERT INTO PLAN_DAT VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &stmt, nullptr), "insert");
    const QByteArray texts[] = {row.P_DATE.toUtf8(), row.P_HOUR.toUtf8(), row.P_MIN.toUtf8(), row.P_DETAIL.toUtf8(),
                                QByteArray(), row.P_PLACE.toUtf8(), row.P_NOTICE.toUtf8()};
    for (int i = 0; i < 7; ++i)
        i == 4 ? sqlite3_bind_int(stmt, 5, row.P_IMPORTANCE)
               : sqlite3_bind_text(stmt, i + 1, texts[i].constData(), int(texts[i].size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    c.check(rc, "insert");
}

QList<store::PLAN_REC> TestEnv::rows(const QString& condition) const
{
    const Connection c(dbPath());
    const QByteArray sql = "SELECT P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE FROM PLAN_DAT"
                           + (condition.isEmpty() ? QByteArray() : " WHERE " + condition.toUtf8()) + " ORDER BY rowid";
    sqlite3_stmt* stmt = nullptr;
    c.check(sqlite3_prepare_v2(c.db, sql.constData(), -1, &stmt, nullptr), sql);
    auto text = [stmt](int i) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)), sqlite3_column_bytes(stmt, i));
    };
    QList<store::PLAN_REC> result;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        result << store::PLAN_REC{text(0), text(1), text(2), text(3), qint16(sqlite3_column_int(stmt, 4)), text(5), text(6)};
    sqlite3_finalize(stmt);
    c.check(rc, sql);
    return result;
}

int TestEnv::count(const QString& condition) const
{
    return int(rows(condition).size());
}

QString line(const store::PLAN_REC& r)
{
    QStringList fields{r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE, r.P_NOTICE};
    for (QString& field : fields)
        field.replace('\\', QLatin1String("\\\\")).replace(QChar(0), QLatin1String("\\0"));
    return fields.join('|');
}

QStringList TestEnv::table() const
{
    QStringList result;
    for (const auto& r : rows())
        result << line(r);
    return result;
}

QString box(const QString& prompt, const QString& title, platform::MsgIcon icon, platform::MsgButtons buttons)
{
    if (title == platform::programTitle() && icon == platform::MsgIcon::None && buttons == platform::MsgButtons::Ok)
        return prompt;
    return QStringLiteral("%1 [%2, icon %3%4]").arg(prompt, title).arg(int(icon))
        .arg(buttons == platform::MsgButtons::YesNo ? ", yes/no" : "");
}

QStringList TestEnv::prompts() const
{
    QStringList result;
    for (const auto& request : m_shown)
        result << request.prompt;
    return result;
}

QStringList TestEnv::told() const
{
    QStringList result;
    for (const auto& request : m_shown)
        result << box(request.prompt, request.title, request.icon, request.buttons);
    return result;
}

StartedMain::StartedMain()
{
    window.startUp();
    window.show();
    window.refresh();
}

QString StartedMain::label(const char* name) const
{
    const auto* found = window.findChild<QLabel*>(QString::fromLatin1(name));
    return found ? found->text() : QStringLiteral("(no label %1)").arg(QLatin1String(name));
}

QAction* StartedMain::action(const char* name) const
{
    auto* found = window.findChild<QAction*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no action %s", name);
    return found;
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
    // Polls rather than waits for one event: exec() may open the dialog before or after this runs.
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, ticks = 0]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++ticks < 1000)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal)
            action(modal);
    });
    timer->start();
}

} // namespace testing

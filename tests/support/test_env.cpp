#include "support/test_env.h"

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "platform/window_style.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTimer>

#include <sqlite3.h>

#include <stdexcept>

#include <cstdio>
#include <cstdlib>

namespace testing {

void makeDatabase(const QString& path)
{
    QFile schema(QStringLiteral(MERIDOCAL_SCHEMA_FILE));
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const int rc = schema.open(QIODevice::ReadOnly) ? sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, nullptr)
                                                    : SQLITE_CANTOPEN;
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot make " + path.toStdString());
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

TestEnv::TestEnv() : TestEnv(Options{}) {}

TestEnv::TestEnv(const Options& options)
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        platform::installJapaneseEnvironment(*app);
    platform::setProgramFolder(m_dir.path());
    platform::SettingsStore::useFile(settingsPath());
    platform::Clock::setFixed(options.now);
    platform::setSystemTrayForTests(false);
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
        if (m_answers.isEmpty())
            return request.buttons == platform::MsgButtons::Choices ? platform::MsgAnswer::Cancel : platform::MsgAnswer::No;
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
    platform::setSystemTrayForTests(std::nullopt);
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
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbPath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    const std::string what = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error(what);
}

void TestEnv::insert(const store::PLAN_REC& r) const
{
    platform::Database::open(dbPath())->run(
        QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE, END_DATE,"
                       " END_HOUR, END_MIN, ALL_DAY) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, r.P_IMPORTANCE, r.P_PLACE, r.P_NOTICE, r.END_DATE, r.END_HOUR, r.END_MIN,
         int(r.ALL_DAY)});
}

QList<store::PLAN_REC> TestEnv::rows(const QString& condition) const
{
    QList<store::PLAN_REC> result;
    for (const platform::Row& v : platform::Database::open(dbPath())->query(
             QStringLiteral("SELECT %1 FROM PLAN_DAT %2 ORDER BY rowid")
                 .arg(store::kRowColumns, condition.isEmpty() ? QString() : QStringLiteral("WHERE ") + condition)))
        result << store::storedRow(v).rec;
    return result;
}

int TestEnv::count(const QString& condition) const
{
    return int(rows(condition).size());
}

QString line(const store::PLAN_REC& r)
{
    QStringList fields{r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE, r.P_NOTICE};
    if (r.hasEnd() || r.ALL_DAY)
        fields << r.END_DATE << r.END_HOUR << r.END_MIN << QString::number(r.ALL_DAY);
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
        result << box(request.prompt, request.title, request.icon, request.buttons)
                + (request.choices.isEmpty() ? QString() : QStringLiteral(" {%1}").arg(request.choices.join(QLatin1Char('|'))));
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

store::PLAN_REC until(store::PLAN_REC row, const QString& end)
{
    const QStringList f = end.split('|');
    row.ALL_DAY = f.size() == 1;
    row.P_HOUR = row.ALL_DAY ? QStringLiteral("00") : row.P_HOUR;
    row.P_MIN = row.ALL_DAY ? QStringLiteral("00") : row.P_MIN;
    row.END_DATE = f[0];
    row.END_HOUR = f.value(1);
    row.END_MIN = f.value(2);
    return row;
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

void stopAtAnyBox(const char* program)
{
    static const char* name = program;
    platform::setMessageHandler([](const platform::MessageRequest& request) -> platform::MsgAnswer {
        std::fprintf(stderr, "%s: box \"%s\"\n", name, qPrintable(request.prompt));
        std::exit(1);
    });
}

std::unique_ptr<QApplication> benchApplication(int& argc, char** argv, const char* program)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QApplication>(argc, argv);
    platform::installJapaneseEnvironment(*app);
    stopAtAnyBox(program);
    return app;
}

} // namespace testing

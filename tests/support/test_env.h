#pragma once

#include "main_window/main_frm.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "platform/system_tray.h"
#include "state/module1.h"
#include "state/text.h"
#include "store/plan_store.h"

#include <QDateTime>
#include <QList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QDialog;
class QImage;
class QWidget;

class QApplication;

namespace testing {

// A program folder in a temporary directory, holding a fresh sec.mdb made from the real schema
// and the real girl.gif; the settings store is a file there; the clock is fixed; message boxes
// and the file dialog are answered by script and recorded. Everything is undone on destruction.
class TestEnv {
public:
    struct Options {
        QDateTime now = QDateTime(QDate(2000, 4, 15), QTime(10, 0));
        bool database = true;
        bool girl = true;
    };
    TestEnv();
    explicit TestEnv(const Options& options);
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    QString folder() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString dbPath() const { return path(QStringLiteral("sec.mdb")); }
    QString girlPath() const { return path(QStringLiteral("girl.gif")); }
    QString settingsPath() const { return path(QStringLiteral("settings.ini")); }

    void setNow(const QDateTime& now);

    // Message boxes. Yes/No boxes take the queued answers in order (No when none is queued);
    // OK boxes need no answer.
    void answer(platform::MsgAnswer answer) { m_answers << answer; }
    const QList<platform::MessageRequest>& shown() const { return m_shown; }
    QStringList prompts() const;
    void clearShown() { m_shown.clear(); }

    // The file dialog: the queued answers in order (a cancel when none is queued).
    void answerFile(const std::optional<QString>& path) { m_files << path; }
    const QList<platform::FileDialogRequest>& fileRequests() const { return m_fileRequests; }

    // Whether the desktop has a system tray (none unless said, whatever the platform reports).
    void setTray(bool available) { platform::setSystemTrayForTests(available); }

    // The settings store, as the program sees it.
    void setSetting(const QString& key, const QString& value);
    QString setting(const QString& key) const;
    bool hasSetting(const QString& key) const;

    // The table, through a connection of its own.
    void exec(const QString& sql) const;
    void insert(const store::PLAN_REC& row) const;
    QList<store::PLAN_REC> rows(const QString& where = {}) const; // in insertion order
    int count(const QString& where = {}) const;
    // Every row as one line, columns joined by "|", NUL and backslash escaped so that a NUL shows
    // in a failure message and two different rows never read the same.
    QStringList table() const;
    // Every box shown, as box() writes it.
    QStringList told() const;

private:
    QTemporaryDir m_dir;
    QList<platform::MessageRequest> m_shown;
    QList<platform::MsgAnswer> m_answers;
    QList<std::optional<QString>> m_files;
    QList<platform::FileDialogRequest> m_fileRequests;
};

// The main window as the program starts it: start-up, shown, first refresh.
struct StartedMain {
    state::Module1 module;
    MAIN_FRM window{module};

    StartedMain();
    ~StartedMain() { window.close(); }
    QString label(const char* name) const;
    QAction* action(const char* name) const;
    QImage picture() const;
};

// A row as table() writes it; with an end, its date, hour, minute and whole days follow.
QString line(const store::PLAN_REC& row);

// A box as told() writes it: the prompt, then the title, icon and buttons where they are not an
// OK box with the program's title and no icon.
QString box(const QString& prompt, const QString& title = platform::programTitle(),
            platform::MsgIcon icon = platform::MsgIcon::None, platform::MsgButtons buttons = platform::MsgButtons::Ok);

// Looks up a control by its objectName; a missing one fails the test with its name.
#define CHILD(var, Type, parent, name)                                                                             \
    auto* var = (parent)->findChild<Type*>(QString::fromUtf8(name));                                                 \
    QVERIFY2(var, name)

// A row for the tests, medium importance, empty place and notice unless given.
store::PLAN_REC rec(const QString& date, const QString& hour, const QString& minute, const QString& detail,
                    qint16 importance = 1, const QString& place = {}, const QString& notice = {});
// The same row with an end ("YYYY/MM/DD|HH|MM", or the last day alone for whole days).
store::PLAN_REC until(store::PLAN_REC row, const QString& end);

// A file's bytes (empty when it cannot be read), and a file written with bytes, its folder made.
QByteArray bytesOf(const QString& path);
bool writeBytes(const QString& path, const QByteArray& bytes);

// Makes a database file from the real schema (the build does the same for the program).
void makeDatabase(const QString& path);

// Runs action on the next modal dialog that opens, polling until it appears (up to 10 s).
// For code under test that calls exec().
void onNextModal(std::function<void(QWidget*)> action);

// For the benchmarks: a box would wait for a person who is not there, so any box is printed with
// the program's name and ends the run.
void stopAtAnyBox(const char* program);
// A benchmark's application as the program sets itself up (offscreen unless a platform is named),
// stopping at any box.
std::unique_ptr<QApplication> benchApplication(int& argc, char** argv, const char* program);

} // namespace testing

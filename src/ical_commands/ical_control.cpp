#include "ical_commands/ical_control.h"

#include "ical/ical_files.h"
#include "platform/clock.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "state/module1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

#include <exception>
#include <memory>

namespace {
const QString kExportCommand = QStringLiteral("iCalendar 書き出し(&E)…");
const QString kImportCommand = QStringLiteral("iCalendar 読み込み(&I)…");
const QString kFilter = QStringLiteral("iCalendar (*.ics)|*.ics|");
const QString kExported = QStringLiteral("%1件の予定を書き出しました。");
const QString kImported = QStringLiteral("%1件の予定を読み込みました。");
const QString kSkippedDuplicates = QStringLiteral("重複のため読み込まなかった予定：%1件");
const QString kSkippedPast = QStringLiteral("昨日までに終わったため読み込まなかった予定：%1件");
const QString kSkippedLater = QStringLiteral("これから1年の間に日がないため読み込まなかった予定：%1件");
const QString kShortened = QStringLiteral("文字数が多すぎるため短くした予定：%1件");
const QString kSkippedUnusable = QStringLiteral("用件か日時がないため読み込まなかった予定：%1件");
const QString kRefusedRules = QStringLiteral("繰り返しの規則が扱えないため読み込まなかった予定：%1件");
const QString kCutSeries = QStringLiteral("繰り返しが多すぎるため途中までとした予定：%1件");
const QString kNotRead = QStringLiteral("一度に読める量を超えたため読み込まなかった予定：%1件");
const QString kOversized = QStringLiteral("大きすぎるため読み込まなかった予定：%1件");
const QString kUnknownZone = QStringLiteral("時間帯が分からず現地時刻とした予定：%1件");

const QString kReading = QStringLiteral("予定を読み込んでいます。しばらくお待ちください。");

// Writing a large file takes seconds; the pointer says the program is at work meanwhile.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// Shown while a file is read: the windows go on painting, and being modal it keeps the commands
// (and closing the window) from running in the middle. The read ends within its own bounds, so
// it offers no way out.
class ReadingBox : public QDialog {
public:
    explicit ReadingBox(QWidget* parent) : QDialog(parent)
    {
        setObjectName(QStringLiteral("icalReading"));
        setWindowTitle(platform::programTitle());
        setWindowFlag(Qt::WindowCloseButtonHint, false);
        setModal(true);
        auto* layout = new QVBoxLayout(this);
        auto* text = new QLabel(kReading, this);
        text->setTextFormat(Qt::PlainText);
        layout->addWidget(text);
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setAccessibleName(kReading);
        layout->addWidget(bar);
    }

protected:
    void reject() override {}
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// Reads the file on a thread of its own while the windows stay answering; a failure of the read
// is thrown here, on the window's thread.
ical::ReadResult readAway(QWidget* window, const QString& path, const QDate& today)
{
    ical::ReadResult result;
    std::exception_ptr failure;
    const std::unique_ptr<QThread> reader(QThread::create([&] {
        try {
            result = ical::readFile(path, today);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    QObject::connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
    ReadingBox box(window);
    box.show();
    reader->start();
    // A thread the system would not give leaves nothing to wait for: read here instead.
    if (reader->isRunning() || reader->isFinished())
        loop.exec();
    else
        result = ical::readFile(path, today);
    reader->wait();
    if (failure)
        std::rethrow_exception(failure);
    return result;
}
} // namespace

IcalControl::IcalControl(state::Module1& module, QWidget* window) : QObject(window), m_module(module), m_window(window)
{
}

void IcalControl::addCommands(QMenu* menu)
{
    QAction* exportItem = menu->addAction(kExportCommand);
    exportItem->setObjectName(QStringLiteral("actionExportIcal"));
    connect(exportItem, &QAction::triggered, this, &IcalControl::exportFile);
    QAction* importItem = menu->addAction(kImportCommand);
    importItem->setObjectName(QStringLiteral("actionImportIcal"));
    connect(importItem, &QAction::triggered, this, &IcalControl::importFile);
}

void IcalControl::exportFile()
{
    const std::optional<QString> path =
        platform::openFileDialog(m_window, {kFilter, 1, false, true, QStringLiteral("ics")});
    int count = 0;
    if (!path || !platform::reported(m_window, [&] {
            const BusyPointer busy;
            count = ical::exportFile(m_module.db(), *path, platform::Clock::now());
        }, platform::programTitle(), platform::MsgIcon::Exclamation))
        return;
    platform::messageBox(m_window, {kExported.arg(count), platform::programTitle(), platform::MsgIcon::Information,
                                    platform::MsgButtons::Ok, platform::MsgAnswer::Ok});
}

void IcalControl::importFile()
{
    const std::optional<QString> path = platform::openFileDialog(m_window, {kFilter});
    ical::ImportReport report;
    if (!path || !platform::reported(m_window, [&] {
            const ical::ReadResult read = readAway(m_window, *path, platform::Clock::now().date());
            const BusyPointer busy;
            report = ical::addRows(m_module.db(), read);
        }, platform::programTitle(), platform::MsgIcon::Exclamation))
        return;
    emit rowsChanged(); // the count behind the box is already the new one
    QStringList lines{kImported.arg(report.added)};
    const std::pair<int, const QString*> counts[] = {
        {report.duplicates, &kSkippedDuplicates}, {report.past, &kSkippedPast},
        {report.later, &kSkippedLater},           {report.shortened, &kShortened},
        {report.unusable, &kSkippedUnusable},
        {report.refusedRules, &kRefusedRules},    {report.cutSeries, &kCutSeries},
        {report.notRead, &kNotRead},              {report.oversized, &kOversized},
        {report.unknownZone, &kUnknownZone}};
    for (const auto& [count, text] : counts)
        if (count > 0)
            lines << text->arg(count);
    platform::messageBox(m_window, {lines.join(QLatin1Char('\r')), platform::programTitle(), platform::MsgIcon::Information,
                                    platform::MsgButtons::Ok, platform::MsgAnswer::Ok});
}

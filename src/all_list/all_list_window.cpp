#include "all_list/all_list_window.h"

#include "all_list/all_list_model.h"
#include "plan_entry/plan_frm.h"
#include "platform/failure.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/window_style.h"
#include "series_question/series_question.h"
#include "state/text.h"
#include "store/plan_store.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kCaption = QStringLiteral("予定一覧");
const QString kSearch = QStringLiteral("検索：");
const QString kCount = QStringLiteral("%1件");
const QString kClose = QStringLiteral("閉じる");
const QString kDeleteQuestion = QStringLiteral("この予定を削除しますか？");
const QString kDeleteTitle = QStringLiteral("削除確認");
const QString kChangeCommand = QStringLiteral("変更(&E)…");
const QString kDeleteCommand = QStringLiteral("削除(&D)");
const QString kTableName = QStringLiteral("予定一覧");

constexpr int kWidth = 760;
constexpr int kHeight = 480;
// No column holds a longer text, so no longer search can match.
constexpr int kSearchCapacity = 255;
// Typing on within this time searches once, for the whole text.
constexpr int kSearchDelayMs = 250;

// The view's own type-ahead walks every row of the model on each key, which on a million
// appointments holds the window for seconds: the search field is the way to find a row.
class AllListTable : public QTableView {
public:
    using QTableView::QTableView;
    void keyboardSearch(const QString&) override {}
};

// Cells cut short with "…" show their whole text as a tool tip, as plain text.
class WholeTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QStyle* style = view->style();
        const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, &item, view) + 1);
        const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view).width() - margins;
        const QString text = index.data().toString();
        if (item.fontMetrics.horizontalAdvance(text) <= room && !text.contains(QLatin1Char('\n')))
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), platform::plainToolTip(text), view->viewport(), option.rect);
        return true;
    }
};
} // namespace

AllListWindow::AllListWindow(state::Module1& module, QWidget* parent)
    : QDialog(parent), m_module(module), m_model(new AllListModel(module, this))
{
    setObjectName(QStringLiteral("AllListWindow"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    auto* searchLabel = new QLabel(kSearch, this);
    searchLabel->setTextFormat(Qt::PlainText);
    m_searchField = new QLineEdit(this);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setMaxLength(kSearchCapacity);
    searchLabel->setBuddy(m_searchField);

    m_table = new AllListTable(this);
    m_table->setObjectName(QStringLiteral("allListTable"));
    m_table->setAccessibleName(kTableName);
    m_table->setModel(m_model);
    m_table->setItemDelegate(new WholeTextDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    // Tab moves between the window's controls, not from cell to cell.
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    // Rows of one fixed height: the view never measures a row, however many there are.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics = m_table->fontMetrics();
    m_table->verticalHeader()->setDefaultSectionSize(metrics.height() + metrics.height() / 2);
    const int widths[] = {metrics.horizontalAdvance(QStringLiteral("0000/00/00(土)")),
                          // Room for a span within a day; a longer one shows whole as a tool tip.
                          metrics.horizontalAdvance(QStringLiteral("00時00分〜00時00分")),
                          metrics.horizontalAdvance(QStringLiteral("重要度")), 180, 120};
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_table->setColumnWidth(column, widths[column] + 2 * metrics.averageCharWidth());

    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    m_countLabel->setTextFormat(Qt::PlainText);
    // Enter and Delete have their commands in sight too: buttons and the table's context menu.
    m_changeAction = new QAction(kChangeCommand, this);
    m_changeAction->setObjectName(QStringLiteral("changeAction"));
    connect(m_changeAction, &QAction::triggered, this, [this] { changeRow(m_table->currentIndex()); });
    m_deleteAction = new QAction(kDeleteCommand, this);
    m_deleteAction->setObjectName(QStringLiteral("deleteAction"));
    connect(m_deleteAction, &QAction::triggered, this, &AllListWindow::deleteRow);
    m_table->addActions({m_changeAction, m_deleteAction});
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* changeButton = new QPushButton(kChangeCommand, this);
    changeButton->setObjectName(QStringLiteral("changeButton"));
    auto* deleteButton = new QPushButton(kDeleteCommand, this);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    for (auto [button, action] : {std::pair(changeButton, m_changeAction), std::pair(deleteButton, m_deleteAction)}) {
        // Enter belongs to the table and the search field, never to a button by default.
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(kClose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(m_searchField);
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(changeButton);
    bottomRow->addWidget(deleteButton);
    bottomRow->addWidget(m_countLabel, 1);
    bottomRow->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(m_table);
    layout->addLayout(bottomRow);

    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(m_searchField, &QLineEdit::textChanged, &m_searchDelay, qOverload<>(&QTimer::start));
    connect(&m_searchDelay, &QTimer::timeout, this, &AllListWindow::applySearch);
    connect(m_searchField, &QLineEdit::returnPressed, this, &AllListWindow::applySearch);
    connect(m_table, &QAbstractItemView::activated, this, &AllListWindow::changeRow);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &AllListWindow::showCommands);
    m_table->installEventFilter(this);
    connect(m_model, &AllListModel::totalChanged, this, &AllListWindow::showCount);
    connect(m_model, &AllListModel::readFailed, this, [this](const QString& description) {
        platform::showWarning(this, description, platform::programTitle());
    });

    if (!restoreGeometry(QByteArray::fromBase64(state::readSetting(state::kAllListGeometry).toLatin1())))
        resize(kWidth, kHeight);
}

bool AllListWindow::reported(const std::function<void()>& step)
{
    // This window came after the original ones: its failures carry the warning icon.
    return platform::reported(this, step, platform::programTitle(), platform::MsgIcon::Exclamation);
}

bool AllListWindow::prepare()
{
    m_searchField->setFocus();
    return reload(QString(), false, 0);
}

bool AllListWindow::reload(const QString& search, bool countNow, int position, std::optional<qint64> id)
{
    if (!reported([&] { m_model->load(search, countNow); }))
        return false;
    if (id)
        reported([&] { position = m_model->positionOf(*id).value_or(position); });
    showCount();
    const int rows = m_model->rowCount();
    if (rows > 0) {
        const QModelIndex index = m_model->index(std::clamp(position, 0, rows - 1), 0);
        m_table->setCurrentIndex(index);
        m_table->scrollTo(index);
    }
    return true;
}

void AllListWindow::showCount()
{
    m_countLabel->setText(m_model->total() ? kCount.arg(*m_model->total()) : QString());
    showCommands();
}

void AllListWindow::showCommands()
{
    const bool selected = m_table->selectionModel()->hasSelection();
    m_changeAction->setEnabled(selected);
    m_deleteAction->setEnabled(selected);
}

void AllListWindow::applySearch()
{
    m_searchDelay.stop();
    const QString search = state::trimBlanks(m_searchField->text());
    if (search != m_model->search())
        reload(search, false, 0);
}

void AllListWindow::changeRow(const QModelIndex& index)
{
    std::optional<store::StoredRow> row;
    if (!index.isValid())
        return;
    if (!reported([&] { row = m_model->rowAt(index.row()); }) || !row)
        return;
    {
        PLAN_FRM form(m_module, this);
        if (form.prepareChange(*row))
            form.exec();
    }
    // Read again whatever the form did: the user sees the table as it is now, the row selected
    // where its new date and time put it.
    reload(m_model->search(), true, index.row(), row->id);
}

void AllListWindow::deleteRow()
{
    const int position = m_table->selectionModel()->selectedRows().value(0).row();
    std::optional<store::StoredRow> row;
    if (position < 0 || !reported([&] { row = m_model->rowAt(position); }) || !row)
        return;
    if (row->seriesId) {
        const std::optional<store::Scope> scope = series_question::ask(this, true);
        if (scope && reported([&] { store::deleteOccurrence(m_module.db(), row->id, *scope, platform::Clock::now().date()); }))
            reload(m_model->search(), true, position);
        return;
    }
    if (!platform::askYesNo(this, kDeleteQuestion, kDeleteTitle, platform::MsgAnswer::Yes))
        return;
    // By its identity: a twin with the same texts stays.
    if (reported([&] { store::remove(m_module.db(), row->id); }))
        reload(m_model->search(), true, position);
}

bool AllListWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_table || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // The repeats of an Enter held down as it saved in the entry form must not open it again.
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->isAutoRepeat())
        return true;
    if (key->key() != Qt::Key_Delete)
        return QDialog::eventFilter(watched, event);
    deleteRow();
    return true;
}

void AllListWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The table and the search field have acted on it already; it never closes the window.
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void AllListWindow::done(int result)
{
    // The size and place are a convenience: a store that cannot take them now costs only the
    // default size next time, so no box holds up a window that is closing.
    try {
        state::writeSettings({{state::kAllListGeometry, QString::fromLatin1(saveGeometry().toBase64())}});
    } catch (const platform::Failure&) {
    }
    QDialog::done(result);
}

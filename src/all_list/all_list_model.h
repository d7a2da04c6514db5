#pragma once

#include "state/module1.h"
#include "store/plan_store.h"

#include <QAbstractTableModel>
#include <QVariantList>

#include <map>
#include <optional>
#include <vector>

// Every appointment, ordered by date, time, subject and identity, or those whose subject, place
// or notice contains a search text. Only the number of rows and the pages of rows that the view
// asks for are read, so a table of a million rows opens and scrolls like a small one.
class AllListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    AllListModel(state::Module1& module, QObject* parent = nullptr);

    // Counts the rows that contain search (all rows when it is empty) and starts the list
    // afresh. On a failure it throws, and the list stays as it was.
    void load(const QString& search);
    const QString& search() const { return m_search; }
    // The row at a position, read when needed; none past the rows the table still holds.
    std::optional<store::StoredRow> rowAt(int position) const;
    // Where the row of this id stands in the list now (where it would stand if the search
    // leaves it out); none when no row has the id any more.
    std::optional<int> positionOf(qint64 id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // A page could not be read while the view was drawn: its rows stay blank until the next load.
    void readFailed(const QString& description);

private:
    struct Filter {
        QString where = QStringLiteral("1");
        QVariantList values;
        // Sparse matches are found sooner by one pass over the table than along the index.
        bool scan = false;
    };
    static Filter filterFor(const QString& search);
    std::vector<store::StoredRow> read(const Filter& filter, const store::StoredRow* anchor, bool backwards,
                                       int skip, int limit) const;
    int count(const Filter& filter, const store::StoredRow* before = nullptr) const;
    const std::vector<store::StoredRow>& page(int number) const;

    state::Module1& m_module;
    QString m_search;
    Filter m_filter;
    int m_count = 0;
    // Pages of rows read so far, by page number; a few only, those nearest the view.
    mutable std::map<int, std::vector<store::StoredRow>> m_pages;
};

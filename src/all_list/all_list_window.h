#pragma once

#include "state/module1.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <optional>

class AllListModel;
class QAction;
class QLabel;
class QLineEdit;
class QModelIndex;
class QTableView;

// Every appointment in one table, narrowed as the user types a search; Enter, a double click or
// "変更" on a row changes it in the entry form, the Delete key or "削除" deletes it.
class AllListWindow : public QDialog {
    Q_OBJECT
public:
    AllListWindow(state::Module1& module, QWidget* parent = nullptr);

    // Reads the list before the window is first shown. False when it cannot be read (the user
    // has been told why) and the window must not be shown.
    bool prepare();

    // Every way of closing ends here, where the window's size and place are kept for next time.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applySearch();
    void changeRow(const QModelIndex& index);
    void deleteRow();
    // Reads the list again and selects the row of id where it stands now, or else the row at
    // position (the last one when fewer are left), counting the rows first when countNow. False
    // when the list could not be read.
    bool reload(const QString& search, bool countNow, int position, std::optional<qint64> id = std::nullopt);
    void showCount();
    // Change and delete act on the selected row and wait for one.
    void showCommands();
    bool reported(const std::function<void()>& step);

    state::Module1& m_module;
    AllListModel* m_model = nullptr;
    QLineEdit* m_searchField = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_countLabel = nullptr;
    QAction* m_changeAction = nullptr;
    QAction* m_deleteAction = nullptr;
    QTimer m_searchDelay;
};

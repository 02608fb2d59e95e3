#pragma once

#include <QDialog>
#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmora {

class CEditGridCtrl;
class COrbaltApp;
class UserPrompts;
struct BarSeries;
struct Session;

// "数据管理": browse the bar series by commodity and period, correct one bar, synchronise all
// series from an MT4 history folder or the data server, choose that folder, empty the store
// (after a question; the local store too). A list of stored bars says how old they are.
// Closed with the caption's close button only.
class DataManagementDialog : public QDialog {
    Q_OBJECT

public:
    // `serverSync` runs the synchronisation from the data server.
    DataManagementDialog(Session& session, UserPrompts& prompts, std::function<void()> serverSync,
                         QWidget* parent = nullptr);

    // Picks a folder: parent, title, initial folder; an empty answer is a cancel. The folder
    // dialog unless replaced.
    std::function<QString(QWidget*, const QString&, const QString&)> pickFolder;

    QTreeWidget* tree() const { return m_tree; }
    CEditGridCtrl* list() const { return m_list; }
    QLabel* seriesLabel() const { return m_seriesLabel; }
    QLabel* countLabel() const { return m_countLabel; }
    // The time, open, close, high, low and volume boxes.
    QLineEdit* barBox(int index) const { return m_barBoxes[static_cast<std::size_t>(index)]; }
    QLineEdit* folderBox() const { return m_folderBox; }
    QPushButton* syncButton() const { return m_sync; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* updateButton() const { return m_update; }
    QPushButton* browseButton() const { return m_browse; }

    // Shows the bars of one commodity and period; out of range leaves the list as it is.
    void fillList(int commodity, int period);

private:
    void onTreeDoubleClicked(QTreeWidgetItem* item);
    void onListClicked();
    void onUpdateRecord();
    void onSyncAll();
    void onClear();
    void onBrowse();
    void rememberFolder(const QString& folder);

    Session& m_session;
    UserPrompts& m_prompts;
    std::function<void()> m_serverSync;
    QTreeWidget* m_tree;
    CEditGridCtrl* m_list;
    QLabel* m_seriesLabel;
    QLabel* m_countLabel;
    std::vector<QLineEdit*> m_barBoxes;
    QLineEdit* m_folderBox;
    QPushButton* m_sync;
    QPushButton* m_clear;
    QPushButton* m_update;
    QPushButton* m_browse;

    BarSeries* m_series = nullptr;
    int m_commodity = -1;
    int m_period = -1;
    int m_selectedRow = -1;
    int m_selectedSlot = -1; // the bar slot of the selected row
    std::vector<int> m_rowMap;
};

// Installs the data management command's hook.
void InstallDataManagement(COrbaltApp& app, UserPrompts& prompts);

} // namespace velmora

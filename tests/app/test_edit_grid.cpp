#include "app/EditGridCtrl.h"

#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;

namespace {

// A dialog with a default button around a 3 x 3 grid, shown so that clicks and keys arrive.
class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&dialog);
        grid = new CEditGridCtrl(&dialog);
        auto* ok = new QPushButton(QStringLiteral("确认"), &dialog);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
        layout->addWidget(grid);
        layout->addWidget(ok);
        for (int c = 0; c < 3; ++c)
            grid->InsertColumn(c, QStringLiteral("C%1").arg(c), GridCenter, 60);
        const char* texts[3][3] = {{"10", "白银", "2015-07-10 09:00"},
                                   {"3", "黄金", "2015-07-02 10:30"},
                                   {"1.5", "钯金", "2015-07-02"}};
        for (int r = 0; r < 3; ++r) {
            grid->InsertItem(r, QString::fromUtf8(texts[r][0]));
            for (int c = 1; c < 3; ++c)
                grid->SetItemText(r, c, QString::fromUtf8(texts[r][c]));
        }
        dialog.resize(400, 300);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    void clickCell(int row, int column, Qt::MouseButton button = Qt::LeftButton)
    {
        const QRect rect = grid->visualItemRect(grid->item(row, column));
        QTest::mouseClick(grid->viewport(), button, {}, rect.center());
    }
    void clickHeader(int column)
    {
        QHeaderView* header = grid->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
    }
    // The column's texts, joined by "|".
    std::string column(int c) const
    {
        QStringList texts;
        for (int r = 0; r < grid->rowCount(); ++r)
            texts << grid->GetItemText(r, c);
        return texts.join(QLatin1Char('|')).toStdString();
    }
    void key(int k) { QTest::keyClick(grid->editor(), static_cast<Qt::Key>(k)); }

    QDialog dialog;
    CEditGridCtrl* grid = nullptr;
};

} // namespace

TEST_F(GridTest, FirstClickSelectsSecondClickEditsAndOnlyAnEditableGridEdits)
{
    clickCell(1, 1);
    EXPECT_TRUE(grid->GetRowState(1) & RowSelected);
    EXPECT_FALSE(grid->IsEditing()) << "a read-only grid never opens the editor";
    clickCell(1, 1);
    EXPECT_FALSE(grid->IsEditing());

    grid->SetEditable(true);
    clickCell(0, 2); // selects another row
    EXPECT_FALSE(grid->IsEditing());
    clickCell(0, 1);
    ASSERT_TRUE(grid->IsEditing());
    EXPECT_EQ(grid->editRow(), 0);
    EXPECT_EQ(grid->editColumn(), 1);
    EXPECT_EQ(grid->editor()->text(), QStringLiteral("白银"));

    // A click while editing only ends the edit; right clicks never start one.
    grid->editor()->setText(QStringLiteral("银"));
    clickCell(0, 0);
    EXPECT_FALSE(grid->IsEditing());
    EXPECT_EQ(grid->GetItemText(0, 1), QStringLiteral("银"));
    clickCell(0, 0, Qt::RightButton);
    EXPECT_FALSE(grid->IsEditing());
}

TEST_F(GridTest, KeysMoveTheEditorAndEnterAndEscStayInTheGrid)
{
    grid->SetEditable(true);
    QSignalSpy edited(grid, &CEditGridCtrl::cellEdited);
    ASSERT_TRUE(grid->StartEdit(0, 2));
    grid->editor()->setText(QStringLiteral("2015-07-11"));
    key(Qt::Key_Tab); // wraps to column 0 of the same row
    EXPECT_EQ(grid->editRow(), 0);
    EXPECT_EQ(grid->editColumn(), 0);
    EXPECT_EQ(grid->GetItemText(0, 2), QStringLiteral("2015-07-11"));
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.at(0).at(0).toInt(), 0);
    EXPECT_EQ(edited.at(0).at(1).toInt(), 2);

    key(Qt::Key_Up); // row 0: stays
    EXPECT_EQ(grid->editRow(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down); // last row: stays
    EXPECT_EQ(grid->editRow(), 2);
    EXPECT_EQ(edited.count(), 1) << "unchanged texts send nothing";

    grid->editor()->setText(QStringLiteral("7"));
    key(Qt::Key_Escape);
    EXPECT_FALSE(grid->IsEditing());
    EXPECT_EQ(grid->GetItemText(2, 0), QStringLiteral("1.5"));
    EXPECT_TRUE(dialog.isVisible());

    ASSERT_TRUE(grid->StartEdit(2, 0));
    grid->editor()->setText(QStringLiteral("7"));
    key(Qt::Key_Return);
    EXPECT_FALSE(grid->IsEditing());
    EXPECT_EQ(grid->GetItemText(2, 0), QStringLiteral("7"));
    EXPECT_TRUE(dialog.isVisible()) << "Enter must not press the default button";
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(edited.count(), 2);

    // Space outside an edit does nothing, and losing the focus keeps an edit open.
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_FALSE(grid->IsEditing());
    ASSERT_TRUE(grid->StartEdit(1, 1));
    grid->editor()->setText(QStringLiteral("铂金"));
    grid->editor()->clearFocus();
    EXPECT_TRUE(grid->IsEditing());
    EXPECT_EQ(grid->GetItemText(1, 1), QStringLiteral("黄金"));
}

TEST_F(GridTest, HeaderClicksAlternateUntilTheRowsChange)
{
    QSignalSpy sorted(grid, &CEditGridCtrl::sorted);
    clickHeader(0);
    EXPECT_EQ(sorted.count(), 0) << "headers are not buttons until the grid is sortable";

    grid->SetSortable(true);
    grid->SetItemBkColor(1, -1, 0xcee3e3, false); // the row of "3"
    clickHeader(0);
    EXPECT_EQ(column(0), "1.5|3|10");
    EXPECT_EQ(grid->GetItemBkColor(1, 1), 0xcee3e3) << "colours move with their row";
    EXPECT_EQ(column(1), "钯金|黄金|白银");
    clickHeader(0);
    EXPECT_EQ(column(0), "10|3|1.5");
    ASSERT_EQ(sorted.count(), 2);
    EXPECT_FALSE(sorted.at(1).at(1).toBool());
    clickHeader(2);
    EXPECT_EQ(column(2), "2015-07-02|2015-07-02 10:30|2015-07-10 09:00");
    clickHeader(1);
    EXPECT_EQ(column(1), "白银|黄金|钯金");

    // An insert or an edit forgets the order: the next click sorts ascending again.
    grid->InsertItem(3, QStringLiteral("4"));
    clickHeader(1);
    EXPECT_TRUE(sorted.last().at(1).toBool());
    grid->SetEditable(true);
    clickHeader(1);
    EXPECT_FALSE(sorted.last().at(1).toBool());
    ASSERT_TRUE(grid->StartEdit(0, 0));
    grid->editor()->setText(QStringLiteral("99"));
    EXPECT_TRUE(grid->EndEdit(true));
    clickHeader(1);
    EXPECT_TRUE(sorted.last().at(1).toBool());
}

TEST_F(GridTest, ColourRulesAndRowQueries)
{
    grid->SetItemTextColor(-1, 1, 0xff0000); // column 1 of every row
    grid->SetItemTextColor(2, -1, 0x00ff00); // all of row 2
    EXPECT_EQ(grid->GetItemTextColor(0, 1), 0xff0000);
    EXPECT_EQ(grid->GetItemTextColor(0, 0), -1);
    EXPECT_EQ(grid->GetItemTextColor(2, 1), 0x00ff00);
    grid->SetItemBkColor(-1, -1, 0xcee3e3);
    grid->InsertItem(3, QStringLiteral("new"));
    EXPECT_EQ(grid->GetItemBkColor(3, 0), -1) << "later rows start with the palette's colours";
    EXPECT_EQ(grid->GetItemBkColor(0, 2), 0xcee3e3);
    grid->InsertColumn(1, QStringLiteral("X"));
    EXPECT_EQ(grid->GetItemBkColor(0, 1), -1);
    EXPECT_EQ(grid->GetItemBkColor(0, 3), 0xcee3e3);

    grid->SetRowState(1, RowSelected | RowChecked | RowFocused);
    EXPECT_EQ(grid->GetRowState(1), RowSelected | RowChecked | RowFocused);
    EXPECT_EQ(grid->CountRows(RowUnselected), 3);
    EXPECT_EQ(grid->CountRows(RowSelected | RowChecked), 1);
    EXPECT_EQ(grid->DeleteItems(RowSelected), 1);
    EXPECT_EQ(grid->DeleteItems(RowAny), 3);
    EXPECT_EQ(grid->CountRows(), 0);
}

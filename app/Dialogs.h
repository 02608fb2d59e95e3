#pragma once

#include "market/Catalogue.h"

#include <QDialog>
#include <string>

class QComboBox;
class QLineEdit;
class QLabel;
class QPlainTextEdit;

namespace velmora {

// The About box: product line, installed version and the help and key text. No buttons;
// Esc or the caption's close button closes it.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString versionText() const;
    QString helpText() const;

private:
    QLabel* m_version;
    QPlainTextEdit* m_help;
};

// "输入密码": the access-code prompt in front of the configuration dialog.
class CPasswordDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPasswordDlg(QWidget* parent = nullptr);
    QLineEdit* edit() const { return m_edit; }

    // The text as confirmed; empty until the dialog is accepted.
    const std::string& typedAccessCode() const { return m_typed; }

    void accept() override;

private:
    QLineEdit* m_edit;
    std::string m_typed;
};

// "指定分析商品": chooses a commodity and a period; both stay -1 until picked from a list.
class CAnalysisSelectDlg : public QDialog {
    Q_OBJECT

public:
    // Offers the commodities of `catalogue`.
    explicit CAnalysisSelectDlg(const Catalogue& catalogue, QWidget* parent = nullptr);

    int commodity() const { return m_commodity; }
    int period() const { return m_period; }
    QComboBox* commodityBox() const { return m_commodityBox; }
    QComboBox* periodBox() const { return m_periodBox; }

private:
    QComboBox* m_commodityBox;
    QComboBox* m_periodBox;
    int m_commodity = -1;
    int m_period = -1;
};

} // namespace velmora

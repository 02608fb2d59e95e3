#include "app/UserPrompts.h"

#include "app/AppState.h"
#include "platform/QtText.h"

#include <QMessageBox>

namespace velmora {

namespace {
QString Caption() { return ToQString(kProgramName); }
} // namespace

void MessageBoxPrompts::showMessage(std::string_view text)
{
    QMessageBox::information(m_parent, Caption(), ToQString(text));
}

bool MessageBoxPrompts::askYesNo(std::string_view question, bool defaultNo)
{
    QMessageBox box(QMessageBox::Warning, Caption(), ToQString(question),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    if (defaultNo)
        box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace velmora

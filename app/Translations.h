#pragma once

class QCoreApplication;

namespace velmora {

// Qt's own texts (standard buttons, file dialogs) in Simplified Chinese, the program's
// language: a box that says "完成数据同步" answers with 确定, not OK. Answers false when the
// catalogue is not installed; the texts then stay English.
bool InstallQtTranslations(QCoreApplication& application);

} // namespace velmora

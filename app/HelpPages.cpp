#include "app/HelpPages.h"

#include <QDir>
#include <QFileInfo>

namespace velmora {

namespace {

const QString kStartFile = QStringLiteral("mainindex.html");
const QString kHelpPath = QStringLiteral("/helponline/");

bool HoldsStartPage(const QString& dir) { return QFileInfo(dir + u'/' + kStartFile).isFile(); }

} // namespace

QString LocalHelpDir(const QString& programDir)
{
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/../share/velmora/helponline"));
    if (HoldsStartPage(installed))
        return installed;
    const QString checkout = QStringLiteral(VELMORA_HELP_SOURCE_DIR);
    return HoldsStartPage(checkout) ? checkout : QString();
}

QUrl LocalHelpPage(const QUrl& failed, const QUrl& startPage, const QString& localDir)
{
    if (localDir.isEmpty() || failed.isLocalFile() ||
        failed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment) !=
            startPage.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment))
        return {};
    const QString path = failed.path();
    if (!path.startsWith(kHelpPath))
        return {};
    // A page of the folder itself, never one reached by climbing out of it.
    const QString name = QDir::cleanPath(path.mid(kHelpPath.size()));
    QUrl local = QUrl::fromLocalFile(localDir + u'/' + kStartFile);
    if (!name.isEmpty() && name != QStringLiteral(".") && !name.startsWith(QStringLiteral("..")) &&
        QFileInfo(localDir + u'/' + name).isFile()) {
        local = QUrl::fromLocalFile(localDir + u'/' + name);
        local.setFragment(failed.fragment());
    }
    return local;
}

} // namespace velmora

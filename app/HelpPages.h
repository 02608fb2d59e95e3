#pragma once

#include <QString>
#include <QUrl>

namespace velmora {

// The help pages installed with the program, the same files the website serves under
// /helponline/: share/velmora/helponline beside the program's bin folder, else the checkout's
// res/helponline for a program run from its build tree; empty when neither holds the start page.
QString LocalHelpDir(const QString& programDir);

// The local copy to show when `failed`, one of the website's help pages, could not be loaded:
// the same page in `localDir` (its anchor kept), else the local start page. Empty when `failed`
// is not a help page of the website that `startPage` belongs to, or there is no local copy.
QUrl LocalHelpPage(const QUrl& failed, const QUrl& startPage, const QString& localDir);

} // namespace velmora

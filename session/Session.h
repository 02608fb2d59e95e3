#pragma once

#include "account/CurrentUser.h"
#include "analysis/AnalysisParams.h"
#include "analysis/ValueChart.h"
#include "app/AppState.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/live/QuoteFeedState.h"
#include "net/HttpClient.h"

#include <memory>
#include <string>

namespace velmora {

class PasswordVault;

// What one run works on: the program's main (or the tool) creates it and hands it by
// reference to whatever reads or changes it. Nothing of it lives anywhere else, so two
// sessions share nothing.
struct Session {
    // Fills the catalogue; the bar store starts empty.
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Catalogue catalogue;
    // Views keep references into it: it never moves.
    BarStore barStore;
    AnalysisParams analysisParams;
    // One memo for every chart window.
    YUnitOverride yunitOverride;
    UserInfo CurrentUser;
    // The last automatic login's failure, for the user center's status box; empty after
    // success.
    std::string autoLoginStatus;
    // Commands set these right before asking a template for a new document; the new document
    // reads them.
    DocKind RequestKind = kQuoteBoardKind;
    int RequestPeriod = 0;
    // The MT4 history folder last chosen or synchronised from; empty until then, never saved.
    std::string mt4Directory;
    // What the quote poll tells of the feed; the board and the status bar read it.
    QuoteFeedState quoteFeed;
    // Where a successful login keeps the password; none keeps it in the settings store.
    PasswordVault* vault = nullptr;
    // The one HTTP client, once the program (or a test) has connected; declared last so that
    // it goes first, aborting what is in flight while the rest is still there.
    std::unique_ptr<CHttpClient> g_pHttpClient;
};

} // namespace velmora

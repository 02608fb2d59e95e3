#pragma once

#include "services/AccountServer.h"

#include <filesystem>
#include <memory>
#include <string>

namespace velmora::test {

// The reference website on loopback with its accounts in `dir` and publishing what
// `dir`/publish holds; null, and `error`, when it does not start.
inline std::unique_ptr<services::AccountServer> StartUpdateWebsite(const std::filesystem::path& dir,
                                                                   std::string& error)
{
    services::AccountServerOptions options;
    options.db = dir / "accounts.db";
    options.hashCost = services::HashCost::Minimum;
    options.publishDir = dir / "publish";
    options.helpDir = services::DefaultHelpDir();
    auto server = std::make_unique<services::AccountServer>(options);
    if (!server->start(&error))
        server.reset();
    return server;
}

} // namespace velmora::test

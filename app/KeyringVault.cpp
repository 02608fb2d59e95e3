#include "app/KeyringVault.h"

#include "platform/QtText.h"

#include <qt6keychain/keychain.h>

namespace velmora {

namespace {

const QString kService = QStringLiteral("velmora");

} // namespace

void KeyringVault::store(const std::string& user, const std::string& password,
                         std::function<void(bool)> done)
{
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(ToQString(user));
    job->setTextData(ToQString(password));
    QObject::connect(job, &QKeychain::Job::finished, [done = std::move(done)](QKeychain::Job* j) {
        done(j->error() == QKeychain::NoError);
    });
    job->start();
}

void KeyringVault::read(const std::string& user,
                        std::function<void(std::optional<std::string>)> done)
{
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(ToQString(user));
    QObject::connect(job, &QKeychain::Job::finished, [done = std::move(done)](QKeychain::Job* j) {
        auto* reader = static_cast<QKeychain::ReadPasswordJob*>(j);
        if (reader->error() == QKeychain::NoError)
            done(reader->textData().toStdString());
        else
            done(std::nullopt);
    });
    job->start();
}

} // namespace velmora

#include "SledModelEnvironment.h"

#include "SledCredentialStore.h"
#include "VornDesktop.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

std::optional<std::string> SledSystemClipboard::text() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return std::nullopt;
    }
    const QString value = clipboard->text();
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toStdString();
}

void SledSystemClipboard::setText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(QString::fromStdString(text));
    }
}

void SledDesktopRevealer::reveal(const std::filesystem::path& item) {
    VornDesktop::revealInFileManager(item);
}

std::optional<std::string> SledKeyringCredentials::load(const VornUUID& profileID) {
    return SledCredentialStore::loadSecret(profileID);
}

std::optional<std::string> SledKeyringCredentials::loadOrThrow(const VornUUID& profileID) {
    return SledCredentialStore::loadSecretOrThrow(profileID);
}

void SledKeyringCredentials::save(const std::string& secret, const VornUUID& profileID) {
    SledCredentialStore::saveSecret(secret, profileID);
}

void SledKeyringCredentials::remove(const VornUUID& profileID) {
    SledCredentialStore::deleteSecret(profileID);
}

#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

enum class WebRole { Listen, Note, Admin };  // ordered: each role may do everything of the ones before
QString RoleName(WebRole role);                            // "listen", "note", "admin"
std::optional<WebRole> RoleFromName(const QString& name);
struct WebAccount {
    QString name;
    WebRole role = WebRole::Listen;
};
struct WebAccountState {
    WebRole role = WebRole::Listen;
    QByteArray passwordStamp;
};

// The web page's accounts in one file of their own (mode 0600, written through platform/atomic_file):
// each account's name, role and Argon2id hash (libsodium crypto_pwhash_str). Hashing takes a noticeable
// fraction of a second on purpose: windows call these from a worker, never from the window thread.
class AccountStore {
public:
    explicit AccountStore(QString filePath);
    static QString DefaultPath();  // ConfigDir() + "/web-accounts"
    Result<QList<WebAccount>> List() const;
    Result<void> Add(const QString& name, WebRole role, const QByteArray& password);  // refuses a taken name
    Result<void> SetRole(const QString& name, WebRole role);
    Result<void> SetPassword(const QString& name, const QByteArray& password);
    Result<void> Remove(const QString& name);
    // The account's role when the name exists and the password is right; nothing otherwise.
    std::optional<WebRole> Verify(const QString& name, const QByteArray& password) const;
    // The account's role as it stands, with a stamp that changes whenever its password is set; nothing
    // when there is no such account. The server checks both at every request, so that a removed account,
    // a changed role or a reset password holds at once for the sessions already open.
    std::optional<WebAccountState> StateOf(const QString& name) const;

private:
    QString filePath_;
};

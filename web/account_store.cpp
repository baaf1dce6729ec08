#include "web/account_store.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>
#include <functional>
#include <sodium.h>

namespace {

constexpr int kLongestName = 64;
// Longer passwords are refused rather than hashed: a login form must not make the server hash megabytes.
constexpr int kLongestPassword = 1024;
constexpr int kLockWaitMs = 5000;

struct StoredAccount {
    WebAccount account;
    QByteArray hash; // crypto_pwhash_str's text, NUL not included
};

Failure Refused(const QString& reason)
{
    return Failure{reason.toStdString()};
}

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// A name is one line of printable text without a tab (the file's field separator) or spaces around it.
bool IsValidName(const QString& name)
{
    if (name.isEmpty() || name.size() > kLongestName || name.trimmed() != name)
        return false;
    for (const QChar c : name) {
        if (c == u'\t' || !c.isPrint())
            return false;
    }
    return true;
}

Result<QByteArray> HashPassword(const QByteArray& password)
{
    if (password.isEmpty())
        return Refused("The password is empty");
    if (password.size() > kLongestPassword)
        return Refused(QString("The password is longer than %1 bytes").arg(kLongestPassword));
    if (!SodiumReady())
        return Refused("The password library cannot start");
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.constData(), static_cast<unsigned long long>(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        return Refused("Not enough memory to hash the password");
    return QByteArray(hash);
}

bool PasswordMatches(const QByteArray& hash, const QByteArray& password)
{
    return password.size() <= kLongestPassword
           && crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                       static_cast<unsigned long long>(password.size()))
                  == 0;
}

// A hash of a password nobody knows: an unknown name is checked against it, so that a wrong name
// takes as long as a wrong password and the answer's time does not tell which names exist.
const QByteArray& DecoyHash()
{
    static const QByteArray hash = [] {
        const Result<QByteArray> made = HashPassword(QByteArray::number(randombytes_random()));
        return made ? *made : QByteArray();
    }();
    return hash;
}

// Reads every account; a missing file has none. A line that cannot be read fails the whole read:
// writing the file back without it would lose an account.
Result<QList<StoredAccount>> ReadAccounts(const QString& filePath)
{
    QFile file(filePath);
    if (!file.exists())
        return QList<StoredAccount>();
    if (!file.open(QIODevice::ReadOnly))
        return Failure{"Cannot open file " + filePath.toStdString(), 0, filePath.toStdString()};
    QList<StoredAccount> accounts;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].split('\t');
        const QString name = QString::fromUtf8(fields[0]);
        const std::optional<WebRole> role = fields.size() == 3 ? RoleFromName(QString::fromUtf8(fields[1]))
                                                               : std::nullopt;
        if (!role || !IsValidName(name) || !fields[2].startsWith("$argon2"))
            return Failure{
                QString("The web accounts file %1 is damaged at line %2").arg(filePath).arg(i + 1).toStdString(), 0,
                filePath.toStdString()};
        accounts.append({{name, *role}, fields[2]});
    }
    return accounts;
}

Result<void> WriteAccounts(const QString& filePath, const QList<StoredAccount>& accounts)
{
    QByteArray bytes;
    for (const StoredAccount& stored : accounts)
        bytes +=
            stored.account.name.toUtf8() + '\t' + RoleName(stored.account.role).toUtf8() + '\t' + stored.hash + '\n';
    const std::string path = filePath.toStdString();
    return WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()), kPrivateFileMode, true);
}

qsizetype IndexOf(const QList<StoredAccount>& accounts, const QString& name)
{
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        if (accounts[i].account.name == name)
            return i;
    }
    return -1;
}

// Reads the accounts, lets change alter them and writes them back, all under a lock file, so that
// the dialog and a terminal command changing accounts at once do not lose each other's change.
Result<void> ChangeAccounts(const QString& filePath, const std::function<Result<void>(QList<StoredAccount>&)>& change)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!MakeOwnFolder(folder.toStdString()))
        return Failure{"Cannot create folder " + folder.toStdString(), 0, folder.toStdString()};
    QLockFile lock(filePath + ".lock");
    if (!lock.tryLock(kLockWaitMs))
        return Refused("The web accounts are being changed by another program: try again");
    Result<QList<StoredAccount>> accounts = ReadAccounts(filePath);
    if (!accounts)
        return accounts.error();
    if (Result<void> changed = change(*accounts); !changed)
        return changed;
    return WriteAccounts(filePath, *accounts);
}

Failure NoSuchAccount(const QString& name)
{
    return Refused(QString("There is no web account named %1").arg(name));
}

} // namespace

QString RoleName(WebRole role)
{
    switch (role) {
    case WebRole::Listen:
        return "listen";
    case WebRole::Note:
        return "note";
    case WebRole::Admin:
        return "admin";
    }
    return {};
}

std::optional<WebRole> RoleFromName(const QString& name)
{
    for (const WebRole role : {WebRole::Listen, WebRole::Note, WebRole::Admin}) {
        if (RoleName(role) == name)
            return role;
    }
    return std::nullopt;
}

AccountStore::AccountStore(QString filePath) : filePath_(std::move(filePath))
{
}

QString AccountStore::DefaultPath()
{
    return QString::fromStdString(ConfigDir()) + "/web-accounts";
}

Result<QList<WebAccount>> AccountStore::List() const
{
    const Result<QList<StoredAccount>> stored = ReadAccounts(filePath_);
    if (!stored)
        return stored.error();
    QList<WebAccount> accounts;
    for (const StoredAccount& each : *stored)
        accounts.append(each.account);
    return accounts;
}

Result<void> AccountStore::Add(const QString& name, WebRole role, const QByteArray& password)
{
    if (!IsValidName(name))
        return Refused(QString("An account name is 1 to %1 printable characters without tabs or spaces around it")
                           .arg(kLongestName));
    const Result<QByteArray> hash = HashPassword(password);
    if (!hash)
        return hash.error();
    return ChangeAccounts(filePath_, [&](QList<StoredAccount>& accounts) -> Result<void> {
        if (IndexOf(accounts, name) >= 0)
            return Refused(QString("A web account named %1 exists already").arg(name));
        accounts.append({{name, role}, *hash});
        return {};
    });
}

Result<void> AccountStore::SetRole(const QString& name, WebRole role)
{
    return ChangeAccounts(filePath_, [&](QList<StoredAccount>& accounts) -> Result<void> {
        const qsizetype at = IndexOf(accounts, name);
        if (at < 0)
            return NoSuchAccount(name);
        accounts[at].account.role = role;
        return {};
    });
}

Result<void> AccountStore::SetPassword(const QString& name, const QByteArray& password)
{
    const Result<QByteArray> hash = HashPassword(password);
    if (!hash)
        return hash.error();
    return ChangeAccounts(filePath_, [&](QList<StoredAccount>& accounts) -> Result<void> {
        const qsizetype at = IndexOf(accounts, name);
        if (at < 0)
            return NoSuchAccount(name);
        accounts[at].hash = *hash;
        return {};
    });
}

Result<void> AccountStore::Remove(const QString& name)
{
    return ChangeAccounts(filePath_, [&](QList<StoredAccount>& accounts) -> Result<void> {
        const qsizetype at = IndexOf(accounts, name);
        if (at < 0)
            return NoSuchAccount(name);
        accounts.removeAt(at);
        return {};
    });
}

std::optional<WebRole> AccountStore::Verify(const QString& name, const QByteArray& password) const
{
    if (!SodiumReady())
        return std::nullopt;
    const Result<QList<StoredAccount>> accounts = ReadAccounts(filePath_);
    const qsizetype at = accounts ? IndexOf(*accounts, name) : -1;
    if (at < 0) {
        (void)PasswordMatches(DecoyHash(), password);
        return std::nullopt;
    }
    if (!PasswordMatches((*accounts)[at].hash, password))
        return std::nullopt;
    return (*accounts)[at].account.role;
}

std::optional<WebAccountState> AccountStore::StateOf(const QString& name) const
{
    const Result<QList<StoredAccount>> accounts = ReadAccounts(filePath_);
    const qsizetype at = accounts ? IndexOf(*accounts, name) : -1;
    if (at < 0)
        return std::nullopt;
    // The hash has a salt of its own each time a password is set.
    return WebAccountState{(*accounts)[at].account.role,
                           QCryptographicHash::hash((*accounts)[at].hash, QCryptographicHash::Sha256)};
}

#include "web/admin_routes.h"

#include "web/access_log.h"
#include "web/account_store.h"
#include "web/http_parsing.h"
#include "web/answers.h"

#include <QJsonArray>

namespace {

constexpr int kDefaultLogCount = 100;
constexpr int kMostLogCount = 1000;

WebResponse Refused(const std::string& reason)
{
    return ErrorAnswer(400, QString::fromStdString(reason));
}

// Whether the change would leave the web page without an administrator (who could then not be put back
// but in a terminal): the account named is the only admin and would stop being one.
bool TakesLastAdmin(const AccountStore& accounts, const QString& name)
{
    const Result<QList<WebAccount>> all = accounts.List();
    if (!all)
        return false;
    int admins = 0;
    bool named = false;
    for (const WebAccount& account : *all) {
        if (account.role == WebRole::Admin) {
            ++admins;
            named = named || account.name == name;
        }
    }
    return named && admins == 1;
}

WebRoute Change(const QString& path, AccessLog& log,
                std::function<Result<void>(const WebRequest&, const QString& name)> change)
{
    return {"POST", path, WebRole::Admin, true, [&log, change](const WebRequest& request) {
                const QString name = ParameterValue(request.form, "name");
                if (const Result<void> changed = change(request, name); !changed)
                    return Refused(changed.error().reason);
                (void)log.Append({QDateTime::currentDateTimeUtc(), request.account, WebAction::AccountChange, name,
                                  request.address});
                return JsonAnswer(200, {{"ok", true}});
            }};
}

Result<WebRole> RoleField(const WebRequest& request)
{
    const std::optional<WebRole> role = RoleFromName(ParameterValue(request.form, "role"));
    if (!role)
        return Failure{"The role is none of listen, note and admin"};
    return *role;
}

const Failure kLastAdmin{"The last admin account cannot be removed or lose its role"};

} // namespace

QList<WebRoute> AdminRoutes(AccountStore& accounts, AccessLog& log)
{
    QList<WebRoute> routes;
    routes.append({"GET", "/api/accounts", WebRole::Admin, false, [&accounts](const WebRequest&) {
                       const Result<QList<WebAccount>> all = accounts.List();
                       if (!all)
                           return Refused(all.error().reason);
                       QJsonArray list;
                       for (const WebAccount& account : *all)
                           list.append(QJsonObject{{"name", account.name}, {"role", RoleName(account.role)}});
                       return JsonAnswer(200, {{"accounts", list}});
                   }});
    routes.append({"GET", "/api/log", WebRole::Admin, false, [&log](const WebRequest& request) {
                       bool valid = false;
                       int count = ParameterValue(request.query, "count").toInt(&valid);
                       count = valid ? std::clamp(count, 1, kMostLogCount) : kDefaultLogCount;
                       const Result<QList<AccessEntry>> entries = log.Newest(count);
                       if (!entries)
                           return Refused(entries.error().reason);
                       QJsonArray list;
                       for (const AccessEntry& entry : *entries)
                           list.append(QJsonObject{{"time", entry.time.toString(Qt::ISODateWithMs)},
                                                   {"account", entry.account},
                                                   {"action", ActionName(entry.action)},
                                                   {"recording", entry.recording},
                                                   {"address", entry.address}});
                       return JsonAnswer(200, {{"entries", list}});
                   }});
    routes.append(Change("/api/accounts/add", log, [&accounts](const WebRequest& request, const QString& name) {
        const Result<WebRole> role = RoleField(request);
        if (!role)
            return Result<void>(role.error());
        return accounts.Add(name, *role, ParameterValue(request.form, "password").toUtf8());
    }));
    routes.append(Change("/api/accounts/role", log, [&accounts](const WebRequest& request, const QString& name) {
        const Result<WebRole> role = RoleField(request);
        if (!role)
            return Result<void>(role.error());
        if (*role != WebRole::Admin && TakesLastAdmin(accounts, name))
            return Result<void>(kLastAdmin);
        return accounts.SetRole(name, *role);
    }));
    routes.append(Change("/api/accounts/password", log, [&accounts](const WebRequest& request, const QString& name) {
        return accounts.SetPassword(name, ParameterValue(request.form, "password").toUtf8());
    }));
    routes.append(Change("/api/accounts/remove", log, [&accounts](const WebRequest&, const QString& name) {
        if (TakesLastAdmin(accounts, name))
            return Result<void>(kLastAdmin);
        return accounts.Remove(name);
    }));
    return routes;
}

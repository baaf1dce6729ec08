#include "web/web_access_texts.h"

#include <algorithm>
#include <initializer_list>

namespace {

// systemctl answers a user who has no systemd instance of their own (a desktop without a user
// session bus, a container) with a failure to reach the bus or the runtime folder.
bool NoUserInstance(const QString& errors)
{
    return errors.contains(QLatin1String("bus"), Qt::CaseInsensitive)
           || errors.contains(QLatin1String("XDG_RUNTIME_DIR"));
}

bool Mentions(const QString& errors, std::initializer_list<const char*> phrases)
{
    return std::any_of(phrases.begin(), phrases.end(),
                       [&](const char* phrase) { return errors.contains(QLatin1String(phrase), Qt::CaseInsensitive); });
}

} // namespace

QString RoleText(WebRole role)
{
    switch (role) {
    case WebRole::Listen:
        return QStringLiteral("收听");
    case WebRole::Note:
        return QStringLiteral("收听和备注");
    case WebRole::Admin:
        return QStringLiteral("管理员");
    }
    return {};
}

QString ActionText(WebAction action)
{
    switch (action) {
    case WebAction::Login:
        return QStringLiteral("登录");
    case WebAction::LoginRefused:
        return QStringLiteral("登录被拒绝");
    case WebAction::Logout:
        return QStringLiteral("退出登录");
    case WebAction::Play:
        return QStringLiteral("播放");
    case WebAction::Download:
        return QStringLiteral("下载");
    case WebAction::NoteChange:
        return QStringLiteral("修改备注");
    case WebAction::AccountChange:
        return QStringLiteral("修改账号");
    case WebAction::EvidenceExport:
        return QStringLiteral("导出证据");
    }
    return {};
}

// Why systemctl failed and the one step to take, in the user's words: its own English text is
// never shown.
QString SystemctlFailureText(bool started, const QString& errors, int port)
{
    if (!started || NoUserInstance(errors))
        return QStringLiteral(
                   "本机没有用户的 systemd 服务（systemctl --user）。\n"
                   "请在终端中以本机桌面的用户运行 sdvoice-web --port %1 代替。")
            .arg(port);
    if (Mentions(errors, {"not found", "does not exist", "no such file"}))
        return QStringLiteral("本机没有安装网页服务 sdvoice-web.service。\n请重新安装 sdvoice 软件包。");
    if (Mentions(errors, {"access denied", "permission denied", "authentication required"}))
        return QStringLiteral("没有管理网页服务的权限。\n请以本机桌面的用户（不是管理员）打开本程序后再试。");
    if (Mentions(errors, {"job for", "failed"}))
        return QStringLiteral("网页服务没能启动。\n请在终端中运行 journalctl --user -u sdvoice-web 查看原因。");
    return QStringLiteral("systemctl 没能完成。\n请在终端中运行 systemctl --user status sdvoice-web 查看原因。");
}

// A name that the log's lines and the page's sign-in take as typed: no "/", no blank, no control
// character.
bool IsAccountName(const QString& name)
{
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c == u'/' || c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
}

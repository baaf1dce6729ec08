#pragma once

#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <mutex>

enum class WebAction { Login, LoginRefused, Logout, Play, Download, NoteChange, AccountChange };
QString ActionName(WebAction action);  // "login", "login-refused", "logout", "play", "download", "note", "account"
struct AccessEntry {
    QDateTime time;
    QString account;
    WebAction action = WebAction::Play;
    QString recording;  // the recording's index id (or the account changed); empty when none
    QString address;    // the client's address
};

// Who played, downloaded or changed what, and when: one line per entry appended to a 0600 file
// (tab-separated, fields escaped), safe to call from several threads at once.
class AccessLog {
public:
    explicit AccessLog(QString filePath);
    static QString DefaultPath();  // ConfigDir() + "/web-access.log"
    Result<void> Append(const AccessEntry& entry);
    Result<QList<AccessEntry>> Newest(int count) const;  // the newest first

private:
    QString filePath_;
    mutable std::mutex mutex_;
};

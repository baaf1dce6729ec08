#pragma once

#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QString>

enum class WebAction { Login, LoginRefused, Logout, Play, Download, NoteChange, AccountChange, EvidenceExport };
// "login", "login-refused", "logout", "play", "download", "note", "account", "evidence"
QString ActionName(WebAction action);
struct AccessEntry {
    QDateTime time;
    QString account;
    WebAction action = WebAction::Play;
    QString recording; // the recording's index id (or the account changed, or the file exported); empty when none
    QString address;   // the client's address ("desk" for the desktop program and voctool)
};

// Why the chain of the log's entries breaks at an entry.
enum class LogBreak {
    None,
    Changed,      // the entry's own text no longer gives its hash
    NotFollowing, // it does not carry the hash of the line before it: an entry was removed or moved here, or
                  // (for the first entry of the chain) a line before the chain was changed
    Cut,          // the file ends inside the entry
    NotAnEntry,   // a line that is not an entry with its hashes (a line cut short that others were appended after)
};

// What checking the log's chain found. Lines are counted from 1.
struct LogCheck {
    qint64 lines = 0;      // the lines read, up to the first broken one
    qint64 unchained = 0;  // the first lines, written before entries carried hashes: the chain holds them as
                           // they were when entry unchained + 1 was written, not as they were written
    qint64 brokenLine = 0; // the first entry that was changed, removed, moved or cut; 0 when the chain is whole
    LogBreak problem = LogBreak::None;
    QString head; // the hash of the last entry of a whole chain (empty when it holds none)

    bool whole() const { return problem == LogBreak::None; }
};

// Who played, downloaded, exported or changed what, and when: one line per entry appended to a
// 0600 file (tab-separated, fields escaped), safe to call from several threads and processes at
// once. Each line ends with two SHA-256 hashes, in hex: that of the entry before it, and that of
// its own text up to and including the first hash. The first entry of the chain carries the
// hash of every byte before it (nothing for a new log; the lines of a log written before entries
// carried hashes). Changing, removing or reordering an entry therefore breaks the chain at that
// place, which Verify finds.
class AccessLog {
public:
    explicit AccessLog(QString filePath);
    static QString DefaultPath(); // ConfigDir() + "/web-access.log"
    const QString& filePath() const { return filePath_; }
    // Appends the entry and returns its hash, the chain's new head. The file is locked (flock)
    // from reading the last entry's hash until the new one is written, so that desk and server
    // writing at once keep one chain.
    Result<QString> Append(const AccessEntry& entry);
    Result<QList<AccessEntry>> Newest(int count) const; // the newest first
    // Walks the whole log (a million entries take about a second) and names the first entry that breaks
    // the chain. A missing log is an empty, whole one.
    Result<LogCheck> Verify() const;

private:
    QString filePath_;
};

#pragma once

#include "index/index_settings.h"
#include "platform/background_job.h"
#include "web/access_log.h"
#include "web/account_store.h"

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

// What the dialog "网页访问" manages: the accounts file, the access log, the settings file with
// the group [web], and the systemctl that turns the server's user unit on and off. Tests point
// them at files and a program of their own.
struct WebAccessPaths {
    QString accountsFile;
    QString logFile;
    QString settingsFile;
    QString systemctl = QStringLiteral("systemctl");
    IndexLocation index; // the archive index, whose folders name the log's recordings

    // The files the server reads, the desktop's own systemctl and the configured index.
    static WebAccessPaths Installed();
};

// The dialog "网页访问": turns the browser access to the archive (the user unit
// sdvoice-web.service) on and off, keeps its port, shows the addresses to give colleagues and
// the certificate's fingerprint, manages the accounts and shows the newest entries of the access
// log. It acts by itself and hands nothing out. Password hashing and the files are worked on by
// workers and systemctl runs as a process of its own, while the window thread draws and answers.
class WebAccessDialog : public QDialog {
    Q_OBJECT

public:
    explicit WebAccessDialog(WebAccessPaths paths, QWidget* parent = nullptr);
    ~WebAccessDialog() override;

    // Whether an account change, a read of the log or a systemctl run has not reported yet
    // (tests wait for the end).
    bool busy() const;

signals:
    // From the workers: the accounts after a change (or the change's failure), the log's entries.
    void accountsRead(const QList<WebAccount>& accounts, const QString& failure);
    // The entries' recordings are named as the log's column 录音 shows them.
    void logRead(const QList<AccessEntry>& entries, const QString& failure);

private:
    struct SystemctlOutcome {
        bool started = false;
        int exitCode = -1;
        QString output;
        QString errors;
    };
    using SystemctlReport = std::function<void(const SystemctlOutcome&)>;

    QGroupBox* BuildServerBox();
    QGroupBox* BuildAccountsBox();
    QGroupBox* BuildLogBox();
    void RunSystemctl(const QStringList& command, SystemctlReport report);
    void QueryServerState();
    void TurnServer(bool on);
    void ShowServerState(const SystemctlOutcome& outcome);
    void ServerTurned(bool on, const SystemctlOutcome& outcome);
    void SavePort();
    void ShowAddresses(int port);
    void ShowFingerprint(int retries);
    void ChangeAccounts(const QString& account, std::function<Result<void>(AccountStore&)> change);
    void ShowAccounts(const QList<WebAccount>& accounts, const QString& failure);
    void SelectAccount();
    void AddAccount();
    void SetSelectedRole();
    void ResetSelectedPassword();
    void RemoveSelectedAccount();
    QString SelectedAccount();
    std::optional<QByteArray> TypedPassword();
    void ReadLog();
    void ShowLog(const QList<AccessEntry>& entries, const QString& failure);

    WebAccessPaths paths_;
    BackgroundJob accountJob_;
    BackgroundJob logJob_;
    int systemctlRuns_ = 0;
    bool logPending_ = false; // a read of the log has not been shown yet

    QLabel* serverStateLabel_ = nullptr;
    QPushButton* serverOnButton_ = nullptr;
    QPushButton* serverOffButton_ = nullptr;
    QSpinBox* portBox_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QLabel* fingerprintLabel_ = nullptr;
    QGroupBox* accountsBox_ = nullptr;
    QTreeWidget* accountList_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QComboBox* roleBox_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLineEdit* passwordAgainEdit_ = nullptr;
    QTreeWidget* logList_ = nullptr;
};

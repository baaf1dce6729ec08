#include "web/web_access_dialog.h"

#include "platform/common_widgets.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "styling/flat_styler.h"
#include "web/desk_addresses.h"
#include "web/recording_ids.h"
#include "web/web_access_texts.h"
#include "web/web_settings.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace {

const QString kUnit = QStringLiteral("sdvoice-web.service");
constexpr int kLogEntriesShown = 200;
constexpr int kCertificateRetries = 20;
constexpr int kCertificateRetryMs = 500;

const QString kCaption = QStringLiteral("提示");
// Ports below this one are open only to the system administrator's programs.
constexpr int kFirstUserPort = 1024;
constexpr int kShortestPassword = 8;

QTreeWidget* MakeList(const char* objectName, const QStringList& columns, QWidget* parent)
{
    auto* list = MakeNamed<QTreeWidget>(objectName, parent);
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return list;
}

} // namespace

WebAccessPaths WebAccessPaths::Installed()
{
    WebAccessPaths paths;
    paths.accountsFile = AccountStore::DefaultPath();
    paths.logFile = AccessLog::DefaultPath();
    paths.settingsFile = ToQString(SettingsFilePath());
    paths.index = ConfiguredIndexLocation();
    return paths;
}

WebAccessDialog::WebAccessDialog(WebAccessPaths paths, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      paths_(std::move(paths))
{
    setWindowTitle(QStringLiteral("网页访问"));
    setModal(true);
    auto* closeButton = MakeNamed<QPushButton>("bbtnClose", QStringLiteral("关 闭"), this);
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &WebAccessDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildServerBox());
    layout->addWidget(BuildAccountsBox());
    layout->addWidget(BuildLogBox(), 1);
    layout->addLayout(buttons);
    connect(this, &WebAccessDialog::accountsRead, this, &WebAccessDialog::ShowAccounts, Qt::QueuedConnection);
    connect(this, &WebAccessDialog::logRead, this, &WebAccessDialog::ShowLog, Qt::QueuedConnection);
    AttachFlatStyler(this);

    QueryServerState();
    ShowAddresses(portBox_->value());
    ShowFingerprint(0);
    ChangeAccounts({}, {});
}

// The workers and systemctl report to this object: they end before it goes, a systemctl still
// running without its report.
WebAccessDialog::~WebAccessDialog()
{
    for (QProcess* process : findChildren<QProcess*>()) {
        disconnect(process, nullptr, this, nullptr);
        delete process;
    }
    accountJob_.Wait();
    logJob_.Wait();
}

bool WebAccessDialog::busy() const
{
    return !accountsBox_->isEnabled() || logPending_ || systemctlRuns_ > 0;
}

QGroupBox* WebAccessDialog::BuildServerBox()
{
    auto* box = MakeNamed<QGroupBox>("gbServer", QStringLiteral("网页服务"), this);
    serverStateLabel_ = MakeNamed<QLabel>("lblServerState", box);
    serverOnButton_ = MakeNamed<QPushButton>("btnServerOn", QStringLiteral("开启网页访问"), box);
    serverOffButton_ = MakeNamed<QPushButton>("btnServerOff", QStringLiteral("停止网页访问"), box);
    portBox_ = MakeNamed<QSpinBox>("spnPort", box);
    portBox_->setRange(1, 65535);
    portBox_->setValue(ReadWebSettings(paths_.settingsFile).port);
    auto* savePortButton = MakeNamed<QPushButton>("btnSavePort", QStringLiteral("保存端口"), box);
    addressLabel_ = MakeNamed<QLabel>("lblAddress", box);
    fingerprintLabel_ = MakeNamed<QLabel>("lblFingerprint", box);
    for (QLabel* label : {addressLabel_, fingerprintLabel_})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QPushButton* button : {serverOnButton_, serverOffButton_, savePortButton})
        button->setAutoDefault(false);
    connect(serverOnButton_, &QPushButton::clicked, this, [this] { TurnServer(true); });
    connect(serverOffButton_, &QPushButton::clicked, this, [this] { TurnServer(false); });
    connect(savePortButton, &QPushButton::clicked, this, &WebAccessDialog::SavePort);

    auto* state = new QHBoxLayout;
    state->addWidget(serverStateLabel_, 1);
    state->addWidget(serverOnButton_);
    state->addWidget(serverOffButton_);
    auto* port = new QHBoxLayout;
    port->addWidget(portBox_);
    port->addWidget(savePortButton);
    port->addStretch();
    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("状态"), state);
    form->addRow(QStringLiteral("端口"), port);
    form->addRow(QStringLiteral("同事使用的地址"), addressLabel_);
    form->addRow(QStringLiteral("证书指纹"), fingerprintLabel_);
    return box;
}

QGroupBox* WebAccessDialog::BuildAccountsBox()
{
    accountsBox_ = MakeNamed<QGroupBox>("gbAccounts", QStringLiteral("账号"), this);
    accountList_ = MakeList("listAccounts", {QStringLiteral("账号"), QStringLiteral("权限")}, accountsBox_);
    nameEdit_ = MakeNamed<QLineEdit>("edtAccountName", accountsBox_);
    roleBox_ = MakeNamed<QComboBox>("cbRole", accountsBox_);
    for (WebRole role : {WebRole::Listen, WebRole::Note, WebRole::Admin})
        roleBox_->addItem(RoleText(role), QVariant::fromValue(static_cast<int>(role)));
    passwordEdit_ = MakeNamed<QLineEdit>("edtPassword", accountsBox_);
    passwordAgainEdit_ = MakeNamed<QLineEdit>("edtPasswordAgain", accountsBox_);
    for (QLineEdit* edit : {passwordEdit_, passwordAgainEdit_})
        edit->setEchoMode(QLineEdit::Password);
    auto* addButton = MakeNamed<QPushButton>("btnAddAccount", QStringLiteral("添加账号"), accountsBox_);
    auto* roleButton = MakeNamed<QPushButton>("btnSetRole", QStringLiteral("更改权限"), accountsBox_);
    auto* passwordButton = MakeNamed<QPushButton>("btnResetPassword", QStringLiteral("重设密码"), accountsBox_);
    auto* removeButton = MakeNamed<QPushButton>("btnRemoveAccount", QStringLiteral("删除账号"), accountsBox_);
    for (QPushButton* button : {addButton, roleButton, passwordButton, removeButton})
        button->setAutoDefault(false);
    connect(accountList_, &QTreeWidget::itemSelectionChanged, this, &WebAccessDialog::SelectAccount);
    connect(addButton, &QPushButton::clicked, this, &WebAccessDialog::AddAccount);
    connect(roleButton, &QPushButton::clicked, this, &WebAccessDialog::SetSelectedRole);
    connect(passwordButton, &QPushButton::clicked, this, &WebAccessDialog::ResetSelectedPassword);
    connect(removeButton, &QPushButton::clicked, this, &WebAccessDialog::RemoveSelectedAccount);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("账号名称"), nameEdit_);
    form->addRow(QStringLiteral("权限"), roleBox_);
    form->addRow(QStringLiteral("密码"), passwordEdit_);
    form->addRow(QStringLiteral("再输一次密码"), passwordAgainEdit_);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {addButton, roleButton, passwordButton, removeButton})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* edits = new QHBoxLayout;
    edits->addLayout(form, 1);
    edits->addLayout(buttons);
    auto* layout = new QHBoxLayout(accountsBox_);
    layout->addWidget(accountList_, 1);
    layout->addLayout(edits, 1);
    return accountsBox_;
}

QGroupBox* WebAccessDialog::BuildLogBox()
{
    auto* box = MakeNamed<QGroupBox>("gbLog", QStringLiteral("访问记录"), this);
    logList_ = MakeList("listLog",
                        {QStringLiteral("时间"), QStringLiteral("账号"), QStringLiteral("操作"), QStringLiteral("录音"),
                         QStringLiteral("地址")},
                        box);
    // About ten entries at once, the newest at the top.
    logList_->setMinimumHeight(logList_->fontMetrics().height() * 12);
    auto* refreshButton = MakeNamed<QPushButton>("btnRefreshLog", QStringLiteral("刷新"), box);
    refreshButton->setAutoDefault(false);
    connect(refreshButton, &QPushButton::clicked, this, &WebAccessDialog::ReadLog);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(refreshButton);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(logList_);
    layout->addLayout(buttons);
    return box;
}

// ---- the server's user unit ----

void WebAccessDialog::RunSystemctl(const QStringList& command, SystemctlReport report)
{
    auto* process = new QProcess(this);
    process->setProgram(paths_.systemctl);
    process->setArguments(QStringList{QStringLiteral("--user")} + command + QStringList{kUnit});
    ++systemctlRuns_;
    serverOnButton_->setEnabled(false);
    serverOffButton_->setEnabled(false);
    auto finish = [this, process, report = std::move(report)](const SystemctlOutcome& outcome) {
        process->deleteLater();
        --systemctlRuns_;
        serverOnButton_->setEnabled(systemctlRuns_ == 0);
        serverOffButton_->setEnabled(systemctlRuns_ == 0);
        report(outcome);
    };
    connect(process, &QProcess::finished, this, [process, finish](int exitCode, QProcess::ExitStatus status) {
        finish({true, status == QProcess::NormalExit ? exitCode : -1,
                QString::fromLocal8Bit(process->readAllStandardOutput()).trimmed(),
                QString::fromLocal8Bit(process->readAllStandardError()).trimmed()});
    });
    connect(process, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish({});
    });
    process->start();
}

void WebAccessDialog::QueryServerState()
{
    serverStateLabel_->setText(QStringLiteral("正在查询..."));
    RunSystemctl({QStringLiteral("is-active")}, [this](const SystemctlOutcome& outcome) { ShowServerState(outcome); });
}

void WebAccessDialog::ShowServerState(const SystemctlOutcome& outcome)
{
    // is-active prints the state and exits with 0 only when the unit runs. A server that fails to
    // start is started again by systemd a few seconds later, and is "activating" meanwhile.
    if (outcome.started && outcome.exitCode == 0)
        serverStateLabel_->setText(QStringLiteral("已开启"));
    else if (outcome.started && outcome.output == QLatin1String("activating"))
        serverStateLabel_->setText(QStringLiteral("正在启动（一直如此时，原因见 journalctl --user -u sdvoice-web）"));
    else if (outcome.started && outcome.output == QLatin1String("failed"))
        serverStateLabel_->setText(QStringLiteral("已停止：上次启动失败（原因见 journalctl --user -u sdvoice-web）"));
    else if (outcome.started && !outcome.output.isEmpty())
        serverStateLabel_->setText(QStringLiteral("已停止"));
    else
        serverStateLabel_->setText(QStringLiteral("无法得知（本机没有用户的 systemd 服务）"));
}

void WebAccessDialog::TurnServer(bool on)
{
    const QString verb = on ? QStringLiteral("enable") : QStringLiteral("disable");
    RunSystemctl({verb, QStringLiteral("--now")},
                 [this, on](const SystemctlOutcome& outcome) { ServerTurned(on, outcome); });
}

void WebAccessDialog::ServerTurned(bool on, const SystemctlOutcome& outcome)
{
    const bool failed = !outcome.started || outcome.exitCode != 0;
    if (failed) {
        const QString what = on ? QStringLiteral("无法开启网页访问") : QStringLiteral("无法停止网页访问");
        ShowMessage(this,
                    what + QStringLiteral("：\n")
                        + SystemctlFailureText(outcome.started, outcome.errors, portBox_->value()),
                    kCaption, MessageIcon::Warning);
    }
    // enable has linked the unit to every login before the start failed: undone, so that a server
    // that cannot start is not tried again and again.
    if (failed && on && outcome.started) {
        RunSystemctl({QStringLiteral("disable"), QStringLiteral("--now")},
                     [this](const SystemctlOutcome&) { QueryServerState(); });
        return;
    }
    QueryServerState();
    ShowFingerprint(on ? kCertificateRetries : 0);
}

void WebAccessDialog::SavePort()
{
    const int port = portBox_->value();
    if (port < kFirstUserPort) {
        ShowMessage(this,
                    QStringLiteral("不能使用端口 %1：%2 以下的端口只有系统管理员的程序才能使用，网页服务用不了。\n"
                                   "请选择 %2 到 65535 之间的端口，例如 8443。")
                        .arg(port)
                        .arg(kFirstUserPort),
                    kCaption, MessageIcon::Warning);
        return;
    }
    if (const Result<void> saved = SaveWebPort(static_cast<quint16>(port), paths_.settingsFile); !saved) {
        ShowErrorBox(this, saved.error());
        return;
    }
    ShowAddresses(port);
    // A server that runs takes the new port only when it starts again.
    RunSystemctl({QStringLiteral("try-restart")}, [this](const SystemctlOutcome&) { QueryServerState(); });
}

void WebAccessDialog::ShowAddresses(int port)
{
    if (port < kFirstUserPort) {
        addressLabel_->setText(QStringLiteral("端口须在 %1 到 65535 之间").arg(kFirstUserPort));
        return;
    }
    const QStringList addresses = DeskAddresses(port);
    addressLabel_->setText(addresses.isEmpty() ? QStringLiteral("本机没有连上局域网") : addresses.join(u'\n'));
}

// The server makes its certificate at its first start, a moment after systemctl has started it:
// a missing certificate is looked for again, a few times.
void WebAccessDialog::ShowFingerprint(int retries)
{
    const QString certificate = ReadWebSettings(paths_.settingsFile).certificateFile;
    if (!QFileInfo::exists(certificate)) {
        fingerprintLabel_->setText(QStringLiteral("网页访问第一次开启后生成"));
        if (retries > 0)
            QTimer::singleShot(kCertificateRetryMs, this, [this, retries] { ShowFingerprint(retries - 1); });
        return;
    }
    const Result<QString> fingerprint = CertificateFingerprint(certificate);
    fingerprintLabel_->setText(fingerprint ? *fingerprint
                                           : QStringLiteral("无法读取证书：") + ToQString(fingerprint.error().reason));
}

// ---- accounts ----

// Runs change of account (none: only reads) on a worker, then lists the accounts; the account
// controls wait meanwhile, since hashing a password takes a noticeable moment. A change made here
// is logged as the web page's administrators' changes are, by the desk's user.
void WebAccessDialog::ChangeAccounts(const QString& account, std::function<Result<void>(AccountStore&)> change)
{
    accountsBox_->setEnabled(false);
    accountJob_.Start([this, account, change = std::move(change)](const std::atomic<bool>&) {
        AccountStore store(paths_.accountsFile);
        QString failure;
        if (change) {
            if (const Result<void> changed = change(store); !changed)
                failure = ToQString(changed.error().reason);
            else
                (void)AccessLog(paths_.logFile)
                    .Append({QDateTime::currentDateTimeUtc(), ToQString(UserName()), WebAction::AccountChange, account,
                             QStringLiteral("本机")});
        }
        Result<QList<WebAccount>> accounts = store.List();
        if (!accounts && failure.isEmpty())
            failure = ToQString(accounts.error().reason);
        emit accountsRead(accounts ? *accounts : QList<WebAccount>{}, failure);
    });
}

void WebAccessDialog::ShowAccounts(const QList<WebAccount>& accounts, const QString& failure)
{
    accountList_->clear();
    for (const WebAccount& account : accounts) {
        auto* item = new QTreeWidgetItem(accountList_, {account.name, RoleText(account.role)});
        item->setData(1, Qt::UserRole, static_cast<int>(account.role));
    }
    accountsBox_->setEnabled(true);
    if (!failure.isEmpty())
        ShowErrorBox(this, failure);
    ReadLog();
}

void WebAccessDialog::SelectAccount()
{
    const QList<QTreeWidgetItem*> selected = accountList_->selectedItems();
    if (selected.isEmpty())
        return;
    nameEdit_->setText(selected.front()->text(0));
    roleBox_->setCurrentIndex(roleBox_->findData(selected.front()->data(1, Qt::UserRole)));
}

QString WebAccessDialog::SelectedAccount()
{
    const QList<QTreeWidgetItem*> selected = accountList_->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(this, QStringLiteral("请先在列表中选择账号。"), kCaption, MessageIcon::Warning);
        return {};
    }
    return selected.front()->text(0);
}

// The password typed twice alike; nothing (after saying why) when it is too short or the two differ.
std::optional<QByteArray> WebAccessDialog::TypedPassword()
{
    const QString password = passwordEdit_->text();
    QString problem;
    if (password.isEmpty())
        problem = QStringLiteral("请输入密码。");
    else if (password.size() < kShortestPassword)
        problem = QStringLiteral("密码至少要有 %1 个字符。").arg(kShortestPassword);
    else if (password != passwordAgainEdit_->text())
        problem = QStringLiteral("两次输入的密码不一样，请重新输入。");
    if (!problem.isEmpty()) {
        ShowMessage(this, problem, kCaption, MessageIcon::Warning);
        return std::nullopt;
    }
    passwordEdit_->clear();
    passwordAgainEdit_->clear();
    return password.toUtf8();
}

void WebAccessDialog::AddAccount()
{
    const QString name = nameEdit_->text().trimmed();
    if (name.isEmpty()) {
        ShowMessage(this, QStringLiteral("请输入账号名称。"), kCaption, MessageIcon::Warning);
        return;
    }
    if (!IsAccountName(name)) {
        ShowMessage(this, QStringLiteral("账号名称不能含有“/”、空格或控制字符。"), kCaption, MessageIcon::Warning);
        return;
    }
    if (!accountList_->findItems(name, Qt::MatchExactly).isEmpty()) {
        ShowMessage(this, QStringLiteral("已经有名为“%1”的账号。").arg(name), kCaption, MessageIcon::Warning);
        return;
    }
    const std::optional<QByteArray> password = TypedPassword();
    if (!password)
        return;
    const auto role = static_cast<WebRole>(roleBox_->currentData().toInt());
    nameEdit_->clear();
    ChangeAccounts(name,
                   [name, role, password = *password](AccountStore& store) { return store.Add(name, role, password); });
}

void WebAccessDialog::SetSelectedRole()
{
    const QString name = SelectedAccount();
    if (name.isEmpty())
        return;
    const auto role = static_cast<WebRole>(roleBox_->currentData().toInt());
    ChangeAccounts(name, [name, role](AccountStore& store) { return store.SetRole(name, role); });
}

void WebAccessDialog::ResetSelectedPassword()
{
    const QString name = SelectedAccount();
    if (name.isEmpty())
        return;
    const std::optional<QByteArray> password = TypedPassword();
    if (!password)
        return;
    ChangeAccounts(name,
                   [name, password = *password](AccountStore& store) { return store.SetPassword(name, password); });
}

void WebAccessDialog::RemoveSelectedAccount()
{
    const QString name = SelectedAccount();
    if (name.isEmpty())
        return;
    if (!AskYesNo(this, QStringLiteral("删除账号“%1”？删除后这个账号不能再登录网页。").arg(name), kCaption))
        return;
    ChangeAccounts(name, [name](AccountStore& store) { return store.Remove(name); });
}

// ---- the access log ----

void WebAccessDialog::ReadLog()
{
    logPending_ = true;
    logJob_.Start([this](const std::atomic<bool>& stopRequested) {
        Result<QList<AccessEntry>> entries = AccessLog(paths_.logFile).Newest(kLogEntriesShown);
        if (!entries) {
            if (!stopRequested.load())
                emit logRead({}, ToQString(entries.error().reason));
            return;
        }
        const std::vector<std::string> folders = KnownArchiveFolders(paths_.index);
        for (AccessEntry& entry : *entries)
            entry.recording = LoggedRecordingText(entry.recording, folders);
        if (!stopRequested.load())
            emit logRead(*entries, QString());
    });
}

void WebAccessDialog::ShowLog(const QList<AccessEntry>& entries, const QString& failure)
{
    logPending_ = false;
    logList_->clear();
    for (const AccessEntry& entry : entries)
        new QTreeWidgetItem(logList_, {entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                       entry.account, ActionText(entry.action), entry.recording, entry.address});
    if (!failure.isEmpty())
        ShowErrorBox(this, failure);
}

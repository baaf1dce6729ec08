#include "search/evidence_export.h"

#include "export/evidence_package.h"
#include "platform/common_widgets.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "web/access_log.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

QString ChooseZip(QWidget* owner, const QString& suggestedPath)
{
    QFileDialog dialog(owner, QStringLiteral("导出证据"), suggestedPath);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The overwrite question is the program's own, asked once the name is chosen.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(QStringLiteral("证据包 (*.zip)"));
    dialog.setDefaultSuffix(QStringLiteral("zip"));
    dialog.selectFile(QFileInfo(suggestedPath).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

} // namespace

EvidenceExport::EvidenceExport(QAbstractItemView* list, SelectedRecording selected, NoteOf noteOf, QWidget* window)
    : QObject(window),
      window_(window),
      selected_(std::move(selected)),
      noteOf_(std::move(noteOf)),
      chooseOutput_(ChooseZip),
      action_(new QAction(QStringLiteral("导出证据..."), list)),
      lastFolder_(QDir::homePath())
{
    setObjectName(QStringLiteral("evidenceExport"));
    action_->setObjectName(QStringLiteral("actExportEvidence"));
    list->addAction(action_);
    connect(action_, &QAction::triggered, this, &EvidenceExport::ExportSelected);
}

// Suggests the recording's name with "-证据.zip" in the folder chosen last; an existing file is
// replaced only after the overwrite question.
void EvidenceExport::ExportSelected()
{
    const std::optional<std::string> recording = selected_();
    if (!recording || job_.running())
        return;
    const QString suggested =
        lastFolder_ + "/" + QFileInfo(ToQString(*recording)).completeBaseName() + QStringLiteral("-证据.zip");
    const QString chosen = chooseOutput_(window_, suggested);
    if (chosen.isEmpty())
        return;
    const QFileInfo file(chosen);
    if (file.exists()
        && !AskYesNo(window_,
                     QStringLiteral("此文件夹已包含一个名为“%1”的同名文件，是否覆盖同名文件？").arg(file.fileName()),
                     QStringLiteral("确认文件替换")))
        return;
    lastFolder_ = file.absolutePath();
    EvidenceRequest request{*recording,
                            file.absoluteFilePath().toStdString(),
                            DataDir(),
                            noteOf_(*recording),
                            AccessLog::DefaultPath(),
                            ToQString(UserName())};
    action_->setEnabled(false);
    job_.Start([this, request](const std::atomic<bool>&) {
        const Result<EvidenceExported> exported = ExportEvidence(request);
        const QString message = exported ? ToQString(exported->keyFingerprint) : ToQString(exported.error().reason);
        QMetaObject::invokeMethod(
            this,
            [this, path = ToQString(request.outputPath), written = exported.has_value(), message] {
                EndExport(path, written, message);
            },
            Qt::QueuedConnection);
    });
}

// message is the key's fingerprint after a written export, the reason after a failed one.
void EvidenceExport::EndExport(const QString& path, bool written, const QString& message)
{
    action_->setEnabled(true);
    if (written)
        ShowPassingNotice(window_, QStringLiteral("已保存到：%1（签名密钥指纹 %2）").arg(path, message));
    else
        ShowMessage(window_, QStringLiteral("无法导出证据“%1”：%2").arg(QFileInfo(path).fileName(), message),
                    QStringLiteral("提示"), MessageIcon::Warning);
    emit exportEnded(written);
}

#include "search/call_sharing.h"

#include "catalogue/call_details.h"
#include "index/index_settings.h"
#include "platform/common_widgets.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDrag>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <memory>

namespace {

const QString kWarningCaption = QStringLiteral("提示");
const QString kBadFormatText = QStringLiteral("播放错误的语音格式！");
constexpr CallFormat kFormats[] = {CallFormat::Wav, CallFormat::Flac, CallFormat::Mp3, CallFormat::Opus};
const char* const kFilters[] = {"WAV (PCM) (*.wav)", "FLAC (*.flac)", "MP3 (*.mp3)", "Opus (*.opus)"};

QString Extension(CallFormat format)
{
    return QString::fromLatin1(CallFormatExtension(format).data(), CallFormatExtension(format).size());
}

// The format chosen last in "另存为...", kept in the program's settings file.
QSettings ShareSettings()
{
    return QSettings(QString::fromStdString(IndexSettingsPath()), QSettings::IniFormat);
}

CallFormat StoredFormat()
{
    const QString stored = ShareSettings().value(QStringLiteral("share/format")).toString();
    return CallFormatOfPath(("." + stored).toStdString()).value_or(CallFormat::Wav);
}

// The dragged and copied files live as long as the program, so that a drop or a paste after
// the window has closed still finds them; the folder goes when the program ends.
QString ShareFolder()
{
    static const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/sdvoice-share-XXXXXX"));
    return folder.path();
}

QString FailureReason(const Failure& failure)
{
    switch (failure.error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EROFS:
        return QStringLiteral("文件夹是只读的");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入这个文件夹的权限");
    default:
        return ToQString(failure.reason);
    }
}

std::optional<CallSharing::SaveTarget> ChooseInDialog(QWidget* owner, const QString& suggestedPath, CallFormat format)
{
    QFileDialog dialog(owner, QStringLiteral("另存为"), suggestedPath);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The overwrite question is the program's own, asked once the name is chosen.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList filters;
    for (const char* filter : kFilters)
        filters << QString::fromLatin1(filter);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters[static_cast<int>(format)]);
    dialog.selectFile(QFileInfo(suggestedPath).fileName());
    // Another type renames the suggested file to its extension.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const int chosen = static_cast<int>(filters.indexOf(filter));
        if (chosen >= 0)
            dialog.selectFile(QFileInfo(suggestedPath).completeBaseName() + "." + Extension(kFormats[chosen]));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const int filter = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    CallSharing::SaveTarget target{dialog.selectedFiles().front(), filter >= 0 ? kFormats[filter] : format};
    if (const std::optional<CallFormat> named = CallFormatOfPath(target.path.toStdString()))
        target.format = *named;
    else
        target.path += "." + Extension(target.format);
    return target;
}

void DragOut(QMimeData* data, QWidget* source)
{
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction);
}

} // namespace

QMimeData* MakeFileMimeData(const QString& file)
{
    auto* data = new QMimeData;
    const QUrl url = QUrl::fromLocalFile(file);
    data->setUrls({url});
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    return data;
}

CallSharing::CallSharing(QAbstractItemView* list, SelectedRecording selected, DescriptionOf description,
                         QWidget* window)
    : QObject(window),
      list_(list),
      window_(window),
      selected_(std::move(selected)),
      description_(std::move(description)),
      chooseTarget_(ChooseInDialog),
      startDrag_(DragOut),
      saveAsAction_(new QAction(QStringLiteral("另存为..."), list)),
      copyAction_(new QAction(QStringLiteral("复制"), list)),
      lastFormat_(StoredFormat()),
      lastFolder_(QDir::homePath())
{
    setObjectName(QStringLiteral("callSharing"));
    saveAsAction_->setObjectName(QStringLiteral("actSaveAs"));
    copyAction_->setObjectName(QStringLiteral("actCopy"));
    copyAction_->setShortcut(QKeySequence::Copy);
    copyAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list->addAction(saveAsAction_);
    list->addAction(copyAction_);
    connect(saveAsAction_, &QAction::triggered, this, &CallSharing::SaveSelectedAs);
    connect(copyAction_, &QAction::triggered, this, &CallSharing::CopySelected);
    list->viewport()->installEventFilter(this);
}

std::optional<CallTags> CallSharing::TagsOf(const std::string& recording)
{
    const std::optional<RecordingHeader> header = ReadRecordingHeader(recording);
    if (!header) {
        ShowMessage(window_, kBadFormatText, kWarningCaption, MessageIcon::Warning);
        return std::nullopt;
    }
    return CallTagsOf(*header, description_(recording));
}

// Suggests the call's name in the folder and format chosen last; an existing file is replaced
// only after the overwrite question.
void CallSharing::SaveSelectedAs()
{
    const std::optional<std::string> recording = selected_();
    if (!recording || saveJob_.running())
        return;
    const std::optional<RecordingHeader> header = ReadRecordingHeader(*recording);
    const std::optional<CallTags> tags = TagsOf(*recording);
    if (!header || !tags)
        return;
    const QString suggested = lastFolder_ + "/" + ToQString(SuggestedCallFileName(*header, lastFormat_));
    const std::optional<SaveTarget> target = chooseTarget_(window_, suggested, lastFormat_);
    if (!target)
        return;
    const QFileInfo file(target->path);
    if (file.exists()
        && !AskYesNo(window_,
                     QStringLiteral("此文件夹已包含一个名为“%1”的同名文件，是否覆盖同名文件？").arg(file.fileName()),
                     QStringLiteral("确认文件替换")))
        return;
    lastFormat_ = target->format;
    lastFolder_ = file.absolutePath();
    ShareSettings().setValue(QStringLiteral("share/format"), Extension(lastFormat_));
    SaveInWorker(*recording, *target, *tags);
}

void CallSharing::SaveInWorker(const std::string& recording, const SaveTarget& target, const CallTags& tags)
{
    saveAsAction_->setEnabled(false);
    saveJob_.Start([this, recording, target, tags](const std::atomic<bool>& stopRequested) {
        const Result<void> saved =
            SaveRecordingAs(recording, target.format, tags, target.path.toStdString(), &stopRequested);
        if (stopRequested.load())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, recording, saved, path = target.path] {
                if (saved)
                    ShowPassingNotice(window_, QStringLiteral("已保存到：") + QFileInfo(path).absoluteFilePath());
                EndSave(recording, saved);
            },
            Qt::QueuedConnection);
    });
}

// A damaged recording gets the player's message; a file that cannot be written, the reason.
void CallSharing::EndSave(const std::string& recording, const Result<void>& saved)
{
    saveAsAction_->setEnabled(true);
    if (!saved && saved.error().path == recording)
        ShowMessage(window_, kBadFormatText, kWarningCaption, MessageIcon::Warning);
    else if (!saved)
        ShowMessage(window_,
                    QStringLiteral("无法保存“%1”：%2")
                        .arg(QFileInfo(ToQString(saved.error().path)).fileName(), FailureReason(saved.error())),
                    kWarningCaption, MessageIcon::Warning);
    emit saveEnded(saved.has_value());
}

void CallSharing::CopySelected()
{
    ShareSelected(ShareUse::Copy);
}

// A file made before for the recording and format is handed over at once; otherwise it is
// made in the worker and handed over when ready (a drag only while the button is still held).
void CallSharing::ShareSelected(ShareUse use)
{
    const std::optional<std::string> recording = selected_();
    if (!recording)
        return;
    const CallFormat format = lastFormat_;
    if (const auto made = shareFiles_.find({*recording, format});
        made != shareFiles_.end() && QFileInfo::exists(made->second)) {
        HandOver(use, made->second);
        return;
    }
    const std::optional<RecordingHeader> header = ReadRecordingHeader(*recording);
    const std::optional<CallTags> tags = TagsOf(*recording);
    if (!header || !tags)
        return;
    // A job started here ends the one going on, whose file would never be reported.
    dragWaiting_ = use == ShareUse::Drag ? recording : std::nullopt;
    // Each file in a folder of its own, so that two calls of the same name never meet.
    const QString folder = ShareFolder() + "/" + QString::number(shareFiles_.size() + 1);
    QDir().mkpath(folder);
    const QString file = folder + "/" + ToQString(SuggestedCallFileName(*header, format));
    shareJob_.Start([this, use, recording = *recording, format, tags = *tags, file](const std::atomic<bool>& stop) {
        const Result<void> saved = SaveRecordingAs(recording, format, tags, file.toStdString(), &stop);
        if (stop.load())
            return;
        const Result<QString> made = saved ? Result<QString>(file) : Result<QString>(saved.error());
        QMetaObject::invokeMethod(
            this, [=, this] { ShareFileMade(use, recording, format, made); }, Qt::QueuedConnection);
    });
}

void CallSharing::ShareFileMade(ShareUse use, const std::string& recording, CallFormat format,
                                const Result<QString>& made)
{
    const bool dragWanted = std::exchange(dragWaiting_, std::nullopt) == recording && leftHeld_;
    if (!made) {
        EndSave(recording, made.error());
        return;
    }
    shareFiles_[{recording, format}] = *made;
    if (use == ShareUse::Copy || dragWanted)
        HandOver(use, *made);
}

void CallSharing::HandOver(ShareUse use, const QString& file)
{
    if (use == ShareUse::Copy) {
        QApplication::clipboard()->setMimeData(MakeFileMimeData(file));
        return;
    }
    leftHeld_ = false;
    startDrag_(MakeFileMimeData(file), list_);
}

// A move of the held left button past the drag distance drags the selected row out.
bool CallSharing::eventFilter(QObject* watched, QEvent* event)
{
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        leftHeld_ = mouse->button() == Qt::LeftButton;
        pressedAt_ = mouse->position().toPoint();
        break;
    case QEvent::MouseButtonRelease:
        leftHeld_ = false;
        break;
    case QEvent::MouseMove:
        if (leftHeld_ && !dragWaiting_
            && (mouse->position().toPoint() - pressedAt_).manhattanLength() >= QApplication::startDragDistance())
            ShareSelected(ShareUse::Drag);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

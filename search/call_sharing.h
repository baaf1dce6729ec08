#pragma once

#include "audio/call_file.h"
#include "platform/background_job.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

class QAbstractItemView;
class QAction;
class QMimeData;
class QWidget;

// Sharing the calls of a recording list: "另存为..." saves the selected recording as WAV, FLAC,
// MP3 or Opus with its details; dragging a row out of the list drops it as a file, and "复制"
// (Ctrl+C) puts that file on the clipboard as a file URL. The dragged and copied files are made
// in the format chosen last in "另存为..." (WAV at first), in a temporary folder of the program's
// own. All encoding runs in workers; the list stays usable meanwhile.
class CallSharing : public QObject {
    Q_OBJECT

public:
    struct SaveTarget {
        QString path;
        CallFormat format = CallFormat::Wav;
    };
    // Asks where to save: the chosen file and format, or nothing when the user cancels.
    using SaveChooser = std::function<std::optional<SaveTarget>(QWidget* owner, const QString& suggestedPath,
                                                                CallFormat format)>;
    // Runs the drag of data out of source; the starter owns data.
    using DragStarter = std::function<void(QMimeData* data, QWidget* source)>;
    using SelectedRecording = std::function<std::optional<std::string>()>;
    // The description of the recording's note; empty when it has none.
    using DescriptionOf = std::function<std::string(const std::string& path)>;

    // Adds "另存为..." and "复制" to the list's actions (its context menu) and watches its drags.
    CallSharing(QAbstractItemView* list, SelectedRecording selected, DescriptionOf description, QWidget* window);

    void SetSaveChooser(SaveChooser chooser) { chooseTarget_ = std::move(chooser); }
    void SetDragStarter(DragStarter starter) { startDrag_ = std::move(starter); }

    void SaveSelectedAs();
    void CopySelected();

signals:
    // A save has ended, saved or not, or a file for a drag or a copy could not be made (the user
    // has been told why not).
    void saveEnded(bool saved);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class ShareUse { Drag, Copy };
    void SaveInWorker(const std::string& recording, const SaveTarget& target, const CallTags& tags);
    void EndSave(const std::string& recording, const Result<void>& saved);
    void ShareSelected(ShareUse use);
    void ShareFileMade(ShareUse use, const std::string& recording, CallFormat format, const Result<QString>& made);
    void HandOver(ShareUse use, const QString& file);
    std::optional<CallTags> TagsOf(const std::string& recording);

    QAbstractItemView* list_;
    QWidget* window_;
    SelectedRecording selected_;
    DescriptionOf description_;
    SaveChooser chooseTarget_;
    DragStarter startDrag_;
    QAction* saveAsAction_;
    QAction* copyAction_;
    CallFormat lastFormat_;
    QString lastFolder_;
    // The files made for drags and copies, by recording and format.
    std::map<std::pair<std::string, CallFormat>, QString> shareFiles_;
    std::optional<std::string> dragWaiting_; // a drag that waits for its file
    bool leftHeld_ = false;                  // the left button is down on the list
    QPoint pressedAt_;
    BackgroundJob saveJob_;
    BackgroundJob shareJob_;
};

// The file URL of file, as drags and the clipboard carry it (file managers read the GNOME form).
QMimeData* MakeFileMimeData(const QString& file);

#pragma once

#include "index/note_store.h"
#include "platform/background_job.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

class QAbstractItemView;
class QAction;
class QWidget;

// "导出证据..." of a recording list's menu: writes the selected recording's signed evidence package
// (a zip with the recording, a WAV to listen to, the manifest with the row's note, the signature
// with the desk's key) in a worker, and says where it is and with which key it was signed.
class EvidenceExport : public QObject {
    Q_OBJECT

public:
    // Asks for the zip to write: an empty text when the user cancels.
    using OutputChooser = std::function<QString(QWidget* owner, const QString& suggestedPath)>;
    using SelectedRecording = std::function<std::optional<std::string>()>;
    using NoteOf = std::function<std::optional<RecordingNote>(const std::string& path)>;

    // Adds "导出证据..." to the list's actions (its context menu).
    EvidenceExport(QAbstractItemView* list, SelectedRecording selected, NoteOf noteOf, QWidget* window);

    void SetOutputChooser(OutputChooser chooser) { chooseOutput_ = std::move(chooser); }

    void ExportSelected();

signals:
    // An export has ended, written or not (the user has been told which).
    void exportEnded(bool written);

private:
    void EndExport(const QString& path, bool written, const QString& message);

    QWidget* window_;
    SelectedRecording selected_;
    NoteOf noteOf_;
    OutputChooser chooseOutput_;
    QAction* action_;
    QString lastFolder_;
    BackgroundJob job_;
};

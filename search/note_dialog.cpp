#include "search/note_dialog.h"

#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/dialog_result.h"
#include "platform/qt_text.h"
#include "platform/text_codec.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

NoteDialog::NoteDialog(const RecordingNote& note, const std::vector<std::string>& userTypes, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FrmNote"));
    setWindowTitle(QStringLiteral("录音说明"));
    setModal(true);
    descriptionEdit_ = MakeNamed<QPlainTextEdit>("edtNoteDesc", ToQString(note.description), this);
    descriptionEdit_->setTabChangesFocus(true);
    userTypeBox_ = MakeNamed<QComboBox>("cbNoteUsertype", this);
    userTypeBox_->setEditable(true);
    for (const std::string& type : userTypes)
        userTypeBox_->addItem(ToQString(type));
    userTypeBox_->setCurrentIndex(-1);
    userTypeBox_->setEditText(ToQString(note.userType));
    auto* okButton = MakeNamed<QPushButton>("btnOK", QStringLiteral("确定"), this);
    auto* cancelButton = MakeNamed<QPushButton>("btnCancel", QStringLiteral("取消"), this);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, [this] { done(ToDialogCode(DialogResult::Ok)); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { done(ToDialogCode(DialogResult::Cancel)); });

    auto* grid = new QGridLayout(this);
    const auto addLabel = [&](const char* name, const QString& text, QWidget* buddy, int row) {
        auto* label = MakeNamed<QLabel>(name, text, this);
        label->setBuddy(buddy);
        grid->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(buddy, row, 1);
    };
    addLabel("lbNoteDesc", QStringLiteral("录音说明："), descriptionEdit_, 0);
    addLabel("lbNoteUsertype", QStringLiteral("用户类型："), userTypeBox_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 2, 0, 1, 2);
    ApplyFormFont(this);
    resize(420, 240);
}

RecordingNote NoteDialog::note() const
{
    return RecordingNote{TrimBlanksAndControls(descriptionEdit_->toPlainText().toStdString()),
                         TrimBlanksAndControls(userTypeBox_->currentText().toStdString())};
}

std::optional<RecordingNote> EditNoteInDialog(const RecordingNote& note, const std::vector<std::string>& userTypes,
                                              QWidget* owner)
{
    NoteDialog dialog(note, userTypes, owner);
    if (dialog.exec() != ToDialogCode(DialogResult::Ok))
        return std::nullopt;
    return dialog.note();
}

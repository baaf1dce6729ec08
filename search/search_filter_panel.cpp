#include "search/search_filter_panel.h"

#include "platform/common_widgets.h"
#include "platform/qt_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr QSize kPanelSize(725, 62);
constexpr QSize kButtonSize(75, 25);

using LabelTexts = std::initializer_list<std::pair<const char*, QString>>;

// One row of the grid: each label before its field, the button last.
void AddRow(QGridLayout* grid, int row, LabelTexts labels, std::initializer_list<QWidget*> fields, QPushButton* button)
{
    int column = 0;
    auto field = fields.begin();
    for (const auto& [name, text] : labels) {
        auto* label = MakeNamed<QLabel>(name, text, grid->parentWidget());
        label->setBuddy(*field); // what a screen reader says for the field
        grid->addWidget(label, row, column++, Qt::AlignRight);
        grid->addWidget(*field++, row, column++);
    }
    grid->addWidget(button, row, column);
}

} // namespace

SearchFilterPanel::SearchFilterPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("panl"));
    resize(kPanelSize);
    fromPicker_ = MakeNamed<QDateEdit>("DateTimePicker01", QDate::currentDate(), this);
    toPicker_ = MakeNamed<QDateEdit>("DateTimePicker11", QDate::currentDate(), this);
    for (QDateEdit* picker : {fromPicker_, toPicker_}) {
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    modeBox_ = MakeNamed<QComboBox>("cbVoicetype", this);
    for (std::string_view item : kModeFilterItems)
        modeBox_->addItem(ToQString(std::string(item)));
    userTypeBox_ = MakeNamed<QComboBox>("cbUsertype", this);
    userTypeBox_->setEditable(true);
    phoneEdit_ = MakeNamed<QLineEdit>("edtPhone", this);
    descriptionEdit_ = MakeNamed<QLineEdit>("edtDesc", this);
    searchButton_ = MakeDialogButton("btnSearch", QStringLiteral("查  找"), this, kButtonSize);
    exportButton_ = MakeDialogButton("btnExecl", QStringLiteral("导出EXCEL"), this, kButtonSize);
    subfoldersBox_ = MakeNamed<QCheckBox>("chkSubfolders", QStringLiteral("包含子文件夹"), this);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 4, 0, 4);
    AddRow(grid, 0,
           {{"StaticText2", QStringLiteral("从：")},
            {"StaticText4", QStringLiteral("语音类型：")},
            {"StaticText5", QStringLiteral("电话号码：")}},
           {fromPicker_, modeBox_, phoneEdit_}, searchButton_);
    AddRow(grid, 1,
           {{"StaticText3", QStringLiteral("到：")},
            {"StaticText7", QStringLiteral("用户类型：")},
            {"StaticText6", QStringLiteral("录音说明：")}},
           {toPicker_, userTypeBox_, descriptionEdit_}, exportButton_);
    grid->addWidget(subfoldersBox_, 0, grid->columnCount(), 2, 1);

    connect(searchButton_, &QPushButton::clicked, this, &SearchFilterPanel::searchRequested);
    connect(exportButton_, &QPushButton::clicked, this, &SearchFilterPanel::exportRequested);
    connect(subfoldersBox_, &QCheckBox::clicked, this, [this] {
        subfoldersSuggested_ = false;
        emit subfoldersToggled();
    });
}

SearchCriteria SearchFilterPanel::criteria() const
{
    return SearchCriteria{fromPicker_->date(),
                          toPicker_->date(),
                          modeBox_->currentText().toStdString(),
                          phoneEdit_->text().toStdString(),
                          descriptionEdit_->text().toStdString(),
                          userTypeBox_->currentText().toStdString(),
                          subfoldersBox_->isChecked() ? FolderScope::WithSubfolders : FolderScope::FolderOnly};
}

void SearchFilterPanel::SuggestSubfolders(bool suggested)
{
    if (suggested && !subfoldersBox_->isChecked()) {
        subfoldersBox_->setChecked(true);
        subfoldersSuggested_ = true;
    } else if (!suggested && subfoldersSuggested_) {
        subfoldersBox_->setChecked(false);
        subfoldersSuggested_ = false;
    }
}

void SearchFilterPanel::SetUserTypes(const std::vector<std::string>& types)
{
    const QString text = userTypeBox_->currentText();
    userTypeBox_->clear();
    for (const std::string& type : types)
        userTypeBox_->addItem(ToQString(type));
    userTypeBox_->setCurrentIndex(-1);
    userTypeBox_->setEditText(text);
}

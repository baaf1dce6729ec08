#pragma once

#include "search/archive_search.h"

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;

// The filters of the search window above its list: the days "从"/"到", the recording mode, the
// user type and the phone and description texts, with "查  找" and "导出EXCEL" beside them, and
// "包含子文件夹". Its one output is the search criteria.
class SearchFilterPanel : public QWidget {
    Q_OBJECT

public:
    explicit SearchFilterPanel(QWidget* parent = nullptr);

    SearchCriteria criteria() const;
    // The user types offered in the box; what the box holds stays.
    void SetUserTypes(const std::vector<std::string>& types);
    // The program's own choice of "包含子文件夹" for the folder just chosen: a suggestion turns the
    // box on; without one, a box that only an earlier suggestion turned on goes off again. What
    // the user clicked stays.
    void SuggestSubfolders(bool suggested);

signals:
    void searchRequested();
    void exportRequested();
    // The user clicked "包含子文件夹".
    void subfoldersToggled();

private:
    QDateEdit* fromPicker_ = nullptr;
    QDateEdit* toPicker_ = nullptr;
    QComboBox* modeBox_ = nullptr;
    QComboBox* userTypeBox_ = nullptr;
    QLineEdit* phoneEdit_ = nullptr;
    QLineEdit* descriptionEdit_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QCheckBox* subfoldersBox_ = nullptr;
    bool subfoldersSuggested_ = false; // the box is on by a suggestion, not by the user's click
};

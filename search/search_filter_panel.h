#pragma once

#include "search/archive_search.h"

#include <QWidget>
#include <string>
#include <vector>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;

// The filters of the search window above its list: the days "从"/"到", the recording mode, the
// user type and the phone and description texts, with "查  找" and "导出EXCEL" beside them. Its
// one output is the search criteria.
class SearchFilterPanel : public QWidget {
    Q_OBJECT

public:
    explicit SearchFilterPanel(QWidget* parent = nullptr);

    SearchCriteria criteria() const;
    // The user types offered in the box; what the box holds stays.
    void SetUserTypes(const std::vector<std::string>& types);

signals:
    void searchRequested();
    void exportRequested();

private:
    QDateEdit* fromPicker_ = nullptr;
    QDateEdit* toPicker_ = nullptr;
    QComboBox* modeBox_ = nullptr;
    QComboBox* userTypeBox_ = nullptr;
    QLineEdit* phoneEdit_ = nullptr;
    QLineEdit* descriptionEdit_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
};

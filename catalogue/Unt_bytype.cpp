#include "catalogue/Unt_bytype.h"

#include "catalogue/category.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;

} // namespace

TFrmBytype::TFrmBytype(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("分类上传"));
    setModal(true);

    RadioButton1 = new QRadioButton(QStringLiteral("按日期上传"), this);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    dtPick = new QDateEdit(this);
    dtPick->setObjectName(QStringLiteral("dtPick"));
    dtPick->setCalendarPopup(true);
    dtPick->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    RadioButton2 = new QRadioButton(QStringLiteral("按电话号码上传"), this);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    edtPhone = new QLineEdit(this);
    edtPhone->setObjectName(QStringLiteral("edtPhone"));
    RadioButton3 = new QRadioButton(QStringLiteral("按录音方式"), this);
    RadioButton3->setObjectName(QStringLiteral("RadioButton3"));
    cbVoicetype = new QComboBox(this);
    cbVoicetype->setObjectName(QStringLiteral("cbVoicetype"));
    cbVoicetype->setEditable(false);
    cbVoicetype->addItems({QStringLiteral("留言"), QStringLiteral("被叫"), QStringLiteral("主叫"),
                           QStringLiteral("现场"), QStringLiteral("其他")});

    auto* radios = new QButtonGroup(this);
    for (QRadioButton* radio : {RadioButton1, RadioButton2, RadioButton3})
        radios->addButton(radio);

    bbtnOK = new QPushButton(QStringLiteral("确 定"), this);
    bbtnOK->setObjectName(QStringLiteral("bbtnOK"));
    bbtnOK->setDefault(true);
    bbtnClose = new QPushButton(QStringLiteral("取 消"), this);
    bbtnClose->setObjectName(QStringLiteral("bbtnClose"));
    bbtnClose->setAutoDefault(false);
    connect(bbtnOK, &QPushButton::clicked, this, &TFrmBytype::btnUpClick);
    connect(bbtnClose, &QPushButton::clicked, this, &TFrmBytype::btnCloseClick);

    auto* grid = new QGridLayout;
    grid->addWidget(RadioButton1, 0, 0);
    grid->addWidget(dtPick, 0, 1);
    grid->addWidget(RadioButton2, 1, 0);
    grid->addWidget(edtPhone, 1, 1);
    grid->addWidget(RadioButton3, 2, 0);
    grid->addWidget(cbVoicetype, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bbtnOK);
    buttons->addWidget(bbtnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    FormCreate();
}

void TFrmBytype::FormCreate()
{
    dtPick->setDate(QDate::currentDate());
    RadioButton3->setChecked(true);
    cbVoicetype->setCurrentIndex(0);
}

void TFrmBytype::btnUpClick()
{
    categoryText.clear();
    if (RadioButton1->isChecked()) {
        categoryKind = kCategoryDate;
        const QDate date = dtPick->date();
        categoryText = DateCriterionText(date.year(), date.month(), date.day());
    }
    if (RadioButton2->isChecked()) {
        categoryKind = kCategoryPhone;
        categoryText = edtPhone->text().toStdString();
    }
    if (RadioButton3->isChecked()) {
        categoryKind = kCategoryMode;
        categoryText = cbVoicetype->currentText().toStdString();
    }
    done(kResultOk);
}

void TFrmBytype::btnCloseClick() { done(kResultCancel); }
void TFrmBytype::reject() { done(kResultCancel); }

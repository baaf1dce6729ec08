#include "app/about_dialog.h"

#include "platform/dialog_result.h"
#include "styling/flat_styler.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cmath>

namespace {

// An SD card with a sound wave across it, drawn here so that the program needs no image file.
QPixmap DrawLogo()
{
    constexpr int kSize = 64;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath card;
    card.moveTo(8, 4);
    card.lineTo(44, 4);
    card.lineTo(56, 16);
    card.lineTo(56, 60);
    card.lineTo(8, 60);
    card.closeSubpath();
    painter.setPen(QPen(QColor(30, 60, 120), 2));
    painter.setBrush(QColor(70, 110, 190));
    painter.drawPath(card);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 200, 90));
    for (int contact = 0; contact < 4; ++contact)
        painter.drawRect(14 + contact * 8, 8, 5, 10);

    painter.setPen(QPen(Qt::white, 2));
    QPainterPath wave;
    wave.moveTo(12, 40);
    for (int x = 12; x <= 52; ++x)
        wave.lineTo(x, 40 + 9 * std::sin((x - 12) / 40.0 * 4 * M_PI) * std::sin((x - 12) / 40.0 * M_PI));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
    return pixmap;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("关于"));

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->setPixmap(DrawLogo());
    auto* version = new QLabel(QStringLiteral("SD卡录音设备语音管理软件R6.01.02"), this);
    version->setObjectName(QStringLiteral("lbVersion"));
    auto* okButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("确认"), this);
    okButton->setObjectName(QStringLiteral("bbtnOK"));
    okButton->setDefault(true);

    auto* content = new QHBoxLayout;
    content->addWidget(logo);
    content->addWidget(version);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(content);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, [this] { done(ToDialogCode(DialogResult::Ok)); });
    AttachFlatStyler(this);
}

void AboutDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}

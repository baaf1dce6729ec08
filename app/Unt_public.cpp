#include "app/Unt_public.h"

#include "app/message_box.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QWidget>

void InstallFontSubstitutions()
{
    static const bool installed = [] {
        const QStringList chineseFaces = {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")};
        QFont::insertSubstitutions(QStringLiteral("宋体"), chineseFaces);
        QFont::insertSubstitutions(QStringLiteral("新宋体"), chineseFaces);
        return true;
    }();
    (void)installed;
}

void ApplyFormFont(QWidget* window)
{
    InstallFontSubstitutions();
    QFont font = window->font();
    font.setPointSize(9);
    font.setFamily(QStringLiteral("宋体"));
    window->setFont(font);

    QPalette palette = window->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, Qt::black);
    window->setPalette(palette);
}

void ShowExceptionBox(QWidget* owner, const std::exception& error)
{
    ShowExceptionBox(owner, QString::fromUtf8(error.what()));
}

void ShowExceptionBox(QWidget* owner, const QString& text)
{
    ShowMessage(owner, text, QGuiApplication::applicationDisplayName(), MessageIcon::Error);
}

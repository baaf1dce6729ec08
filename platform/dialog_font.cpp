#include "platform/dialog_font.h"

#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QWidget>

namespace {

// Answers the password character hint with '*' and leaves everything else to the widget's style.
class StarPasswordStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

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

void MakePasswordEdit(QLineEdit* edit)
{
    // A proxy over a style of its own: a proxy takes ownership of the style it wraps, and the
    // application's style must not be handed over. The edit owns the proxy.
    auto* style = new StarPasswordStyle(QApplication::style()->name());
    style->setParent(edit);
    edit->setStyle(style);
    edit->setEchoMode(QLineEdit::Password);
}

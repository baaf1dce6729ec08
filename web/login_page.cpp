#include "web/login_page.h"

namespace {

QByteArray MessageText(LoginMessage message)
{
    switch (message) {
    case LoginMessage::None:
        return {};
    case LoginMessage::WrongPassword:
        return "对不起，你输入的用户名或密码有误！";
    case LoginMessage::TooManyAttempts:
        return "登录失败的次数太多，请稍后再试。";
    case LoginMessage::Busy:
        return "正在登录的人太多，请过几秒再试。";
    }
    return {};
}

} // namespace

QByteArray LoginPage(LoginMessage message)
{
    const QByteArray text = MessageText(message);
    const QByteArray notice = text.isEmpty() ? QByteArray() : "<p class=\"message\" role=\"alert\">" + text + "</p>\n";
    return "<!DOCTYPE html>\n"
           "<html lang=\"zh-CN\">\n"
           "<head>\n"
           "<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>登录 - 通话录音</title>\n"
           "<link rel=\"stylesheet\" href=\"/login.css\">\n"
           "</head>\n"
           "<body>\n"
           "<form class=\"login\" method=\"post\" action=\"/login\">\n"
           "<h1>通话录音</h1>\n"
        + notice
        + "<label for=\"name\">用户名</label>\n"
          "<input id=\"name\" name=\"name\" autocomplete=\"username\" maxlength=\"64\" required autofocus>\n"
          "<label for=\"password\">密码</label>\n"
          "<input id=\"password\" name=\"password\" type=\"password\" autocomplete=\"current-password\" required>\n"
          "<button type=\"submit\">登录</button>\n"
          "</form>\n"
          "</body>\n"
          "</html>\n";
}

QByteArray LoginStyle()
{
    return "body { margin: 0; min-height: 100vh; display: flex; align-items: center; justify-content: center;\n"
           "       background: #f0f0f0; font-family: \"Noto Sans CJK SC\", \"Microsoft YaHei\", sans-serif; }\n"
           ".login { display: flex; flex-direction: column; gap: 0.5em; width: min(20em, 90vw); padding: 1.5em;\n"
           "         background: #fff; border: 1px solid #c0c0c0; }\n"
           ".login h1 { margin: 0 0 0.5em; font-size: 1.3em; font-weight: normal; }\n"
           ".login input { padding: 0.4em; font-size: 1em; border: 1px solid #a0a0a0; }\n"
           ".login button { margin-top: 0.8em; padding: 0.5em; font-size: 1em; color: #fff; background: #2f6fb0;\n"
           "                border: none; cursor: pointer; }\n"
           ".message { margin: 0; color: #b00020; }\n";
}

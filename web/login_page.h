#pragma once

#include <QByteArray>

enum class LoginMessage { None, WrongPassword, TooManyAttempts, Busy };

// The login page (HTML, Simplified Chinese) with the message of the last attempt, and its style sheet.
QByteArray LoginPage(LoginMessage message);
QByteArray LoginStyle();

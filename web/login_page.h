#pragma once

#include <QByteArray>

enum class LoginMessage { None, WrongPassword, TooManyAttempts };

// The login page (HTML, Simplified Chinese) with the message of the last attempt, and its style sheet.
QByteArray LoginPage(LoginMessage message);
QByteArray LoginStyle();

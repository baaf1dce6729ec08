#pragma once

#include "web/web_request.h"

#include <QJsonObject>

// Whole answers of the routes: a body of a type, JSON, and a refusal as JSON {"error": reason}.
WebResponse BodyAnswer(int status, const QByteArray& contentType, const QByteArray& body);
WebResponse JsonAnswer(int status, const QJsonObject& object);
WebResponse ErrorAnswer(int status, const QString& reason);

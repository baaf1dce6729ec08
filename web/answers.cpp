#include "web/answers.h"

#include <QJsonDocument>

WebResponse BodyAnswer(int status, const QByteArray& contentType, const QByteArray& body)
{
    WebResponse response;
    response.status = status;
    response.contentType = contentType;
    response.body = body;
    return response;
}

WebResponse JsonAnswer(int status, const QJsonObject& object)
{
    return BodyAnswer(status, "application/json; charset=utf-8", QJsonDocument(object).toJson(QJsonDocument::Compact));
}

WebResponse ErrorAnswer(int status, const QString& reason)
{
    return JsonAnswer(status, {{"error", reason}});
}

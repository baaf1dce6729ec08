#include "web/call_routes.h"

#include "catalogue/call_details.h"
#include "audio/loudness_outline.h"
#include "index/archive_index.h"
#include "web/access_log.h"
#include "web/answers.h"
#include "web/body_sources.h"
#include "web/http_parsing.h"
#include "web/recording_access.h"

#include <QDateTime>
#include <QUrl>
#include <cerrno>
#include <sys/stat.h>
#include <variant>

namespace {

constexpr int kDefaultOutlinePoints = 512;

QString IdOf(const WebRequest& request)
{
    return ParameterValue(request.method == "POST" ? request.form : request.query, QStringLiteral("id"));
}

WebResponse Undecodable()
{
    return ErrorAnswer(422, QStringLiteral("这条录音无法解码"));
}

// The recording of the request's "id", opened once, or the response that refuses it.
std::variant<OpenedRecording, WebResponse> Open(RouteContext& context, const WebRequest& request)
{
    std::optional<OpenedRecording> opened;
    const Result<void> used =
        context.index.Use([&](ArchiveIndex& index) { opened = OpenRecordingOfId(index, IdOf(request)); });
    if (!used)
        return RequestRefusal(used.error());
    if (!opened)
        return ErrorAnswer(404, QStringLiteral("找不到这条录音"));
    return std::move(*opened);
}

Result<RecordingNote> NoteOf(RouteContext& context, const OpenedRecording& opened)
{
    RecordingNote note;
    const Result<void> used =
        context.index.Use([&](ArchiveIndex& index) { note = index.NoteOf(IdentityOf(opened.name, opened.head)); });
    if (!used)
        return used.error();
    return note;
}

RecordingHeader HeaderOf(const RecordingHead& head)
{
    unsigned char bytes[kHeaderSize];
    std::copy(head.record.begin(), head.record.end(), bytes);
    return ParseRecordingHeader(bytes);
}

QJsonObject NoteJson(const RecordingNote& note)
{
    return {{QStringLiteral("description"), Text(note.description)}, {QStringLiteral("userType"), Text(note.userType)}};
}

// Writes who did what with which recording; false when the log cannot be written.
bool Record(RouteContext& context, const WebRequest& request, WebAction action)
{
    const AccessEntry entry{QDateTime::currentDateTimeUtc(), request.account, action, IdOf(request), request.address};
    return context.log.Append(entry).has_value();
}

// Writes the entry the audio a request is about to get needs: a download for each download, a play
// when the session starts listening (not for each range the browser asks for as it plays and
// seeks); nothing for HEAD. False when the entry cannot be written.
bool Audit(RouteContext& context, const WebRequest& request, WebAction action)
{
    if (request.method == "HEAD")
        return true;
    // The session, and its account too: two accounts never share a listening.
    const QByteArray listener = request.account.toUtf8() + '\n' + request.session;
    if (action == WebAction::Play && !context.listenings.Starts(listener, IdOf(request)))
        return true;
    if (Record(context, request, action))
        return true;
    if (action == WebAction::Play)
        context.listenings.Forget(listener, IdOf(request));
    return false;
}

WebResponse LogUnwritable()
{
    return ErrorAnswer(503, QStringLiteral("访问记录无法写入，请联系管理员"));
}

// The audio response, once its entry is written; a range refused (416) sends no audio and writes none.
WebResponse Audited(RouteContext& context, const WebRequest& request, WebAction action, WebResponse response)
{
    if (response.status == 416 || Audit(context, request, action))
        return response;
    return LogUnwritable();
}

WebResponse WaveBody(RouteContext& context, const WebRequest& request, const OpenedRecording& opened, WebAction action)
{
    Result<RecordingDecoder> decoder = RecordingDecoder::Open(opened.file.get());
    if (!decoder)
        return Undecodable();
    const qint64 size = qint64(kWaveHeaderBytes) + decoder->OutputBytes();
    return Audited(context, request, action, RangedBody(request, size, "audio/wav", [&](qint64 first) {
                       return std::make_shared<DecodedWave>(std::move(*decoder), first);
                   }));
}

void AddAttachmentHeader(WebResponse& response, const OpenedRecording& opened, CallFormat format)
{
    if (response.status >= 300)
        return;
    const std::string suggested = SuggestedCallFileName(HeaderOf(opened.head), format);
    const QByteArray plain = QByteArray::fromStdString(opened.name.substr(0, opened.name.find('.')) + "."
                                                       + std::string(CallFormatExtension(format)));
    response.headers.append(QPair<QByteArray, QByteArray>(
        "Content-Disposition", "attachment; filename=\"" + plain + "\"; filename*=UTF-8''"
                                   + QUrl::toPercentEncoding(QString::fromStdString(suggested))));
}

// The recording as MP3, encoded once and kept (Mp3Cache); the response needs its size before its
// first byte.
WebResponse Mp3Body(RouteContext& context, const WebRequest& request, const OpenedRecording& opened)
{
    const Result<RecordingNote> note = NoteOf(context, opened);
    if (!note)
        return RequestRefusal(note.error());
    const Mp3Key key{opened.folder, opened.name, opened.head.size, opened.head.modified, note->description};
    Result<UniqueFd> mp3 =
        context.mp3.Find(key, opened.file.get(), CallTagsOf(HeaderOf(opened.head), note->description));
    if (!mp3 && mp3.error().error == EBUSY) {
        WebResponse busy = ErrorAnswer(503, QStringLiteral("正在转换其他录音，请稍后再试"));
        busy.headers.append(QPair<QByteArray, QByteArray>("Retry-After", "10"));
        return busy;
    }
    struct stat status {};
    if (!mp3 || ::fstat(mp3->get(), &status) != 0)
        return ErrorAnswer(422, QStringLiteral("这条录音无法转换为MP3"));
    return Audited(context, request, WebAction::Download,
                   RangedBody(request, status.st_size, "audio/mpeg",
                              [&](qint64 first) { return std::make_shared<FileBody>(std::move(*mp3), first); }));
}

} // namespace

WebResponse HandleCall(RouteContext& context, const WebRequest& request)
{
    std::variant<OpenedRecording, WebResponse> opened = Open(context, request);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const OpenedRecording& recording = std::get<OpenedRecording>(opened);
    const Result<RecordingNote> note = NoteOf(context, recording);
    if (!note)
        return RequestRefusal(note.error());
    QJsonObject call =
        RowJson(recording.folder, MakeRecordingEntry(recording.folder, recording.name, 0, recording.head), &*note);
    call.insert(QStringLiteral("columns"), TextArray(RecordingColumnTitles()));
    call.insert(QStringLiteral("mayChangeNote"), request.role >= WebRole::Note);
    return JsonAnswer(200, call);
}

WebResponse HandleAudio(RouteContext& context, const WebRequest& request)
{
    std::variant<OpenedRecording, WebResponse> opened = Open(context, request);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    return WaveBody(context, request, std::get<OpenedRecording>(opened), WebAction::Play);
}

WebResponse HandleDownload(RouteContext& context, const WebRequest& request)
{
    const QString format = ParameterValue(request.query, QStringLiteral("format"));
    const bool mp3 = format == QLatin1String("mp3");
    if (!mp3 && !format.isEmpty() && format != QLatin1String("wav"))
        return ErrorAnswer(400, QStringLiteral("下载格式无效"));
    std::variant<OpenedRecording, WebResponse> opened = Open(context, request);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const OpenedRecording& recording = std::get<OpenedRecording>(opened);
    WebResponse response = mp3 ? Mp3Body(context, request, recording)
                               : WaveBody(context, request, recording, WebAction::Download);
    AddAttachmentHeader(response, recording, mp3 ? CallFormat::Mp3 : CallFormat::Wav);
    return response;
}

WebResponse HandleOutline(RouteContext& context, const WebRequest& request)
{
    bool valid = true;
    const QString asked = ParameterValue(request.query, QStringLiteral("points"));
    const int points = asked.isEmpty() ? kDefaultOutlinePoints : asked.toInt(&valid);
    if (!valid || points <= 0 || std::size_t(points) > kOutlinePoints)
        return ErrorAnswer(400, QStringLiteral("点数无效"));
    std::variant<OpenedRecording, WebResponse> opened = Open(context, request);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const Result<Outline> outline =
        OutlineOfRecording(std::get<OpenedRecording>(opened).file.get(), std::size_t(points));
    if (!outline)
        return Undecodable();
    QJsonArray peaks;
    for (const std::uint16_t peak : *outline)
        peaks.append(int(peak));
    return JsonAnswer(200, {{QStringLiteral("peaks"), peaks}});
}

WebResponse HandleNoteChange(RouteContext& context, const WebRequest& request)
{
    std::variant<OpenedRecording, WebResponse> opened = Open(context, request);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const OpenedRecording& recording = std::get<OpenedRecording>(opened);
    const RecordingNote note{ParameterValue(request.form, QStringLiteral("description")).toStdString(),
                             ParameterValue(request.form, QStringLiteral("userType")).trimmed().toStdString()};
    Result<void> stored = Failure{};
    const Result<void> used = context.index.Use(
        [&](ArchiveIndex& index) { stored = index.SetNote(IdentityOf(recording.name, recording.head), note); });
    if (!used)
        return RequestRefusal(used.error());
    if (!stored)
        return ErrorAnswer(503, Text(stored.error().reason));
    context.searches.Clear();
    if (!Record(context, request, WebAction::NoteChange))
        return ErrorAnswer(500, QStringLiteral("备注已保存，但访问记录无法写入，请联系管理员"));
    return JsonAnswer(200, NoteJson(note));
}

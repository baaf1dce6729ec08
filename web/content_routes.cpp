#include "web/content_routes.h"

#include "audio/adpcm_converter.h"
#include "audio/call_details.h"
#include "audio/call_file.h"
#include "audio/loudness_outline.h"
#include "catalogue/recording_model.h"
#include "index/archive_index.h"
#include "platform/unique_fd.h"
#include "search/archive_search.h"
#include "statistics/call_statistics.h"
#include "statistics/statistics_table.h"
#include "web/http_parsing.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace {

using Parameters = QList<QPair<QString, QString>>;

constexpr int kDefaultPageRows = 100;
constexpr int kDefaultOutlinePoints = 512;
const QByteArray kJson = "application/json; charset=utf-8";

// What every handler of one ContentRoutes call shares; read-only once made.
// A search's rows with their notes, and the order of the rows asked for.
struct SortedSearch {
    SearchResult result;
    std::vector<int> order;
};
using SharedSearch = std::shared_ptr<const SortedSearch>;

// The searches asked for in the last minute: the pages of one search and its statistics come from
// one walk of the folders, and a search many ask for at once is made once. A search older than ten
// seconds is made again by the next request that asks for it, while the others asking meanwhile get
// the older one: only that request waits for the walk, however long a busy machine makes it. A note
// change clears the searches.
class SearchCache {
public:
    Result<SharedSearch> Find(const QString& key, const std::function<Result<SharedSearch>()>& make)
    {
        std::promise<Result<SharedSearch>> promise;
        std::shared_future<Result<SharedSearch>> search;
        std::uint64_t generation = 0;
        bool first = false;
        bool refresh = false;
        {
            const std::lock_guard lock(mutex_);
            const Clock::time_point now = Clock::now();
            std::erase_if(searches_, [&](const auto& entry) {
                return now - entry.second.used > kKept && !entry.second.refreshing;
            });
            generation = generation_;
            const auto found = searches_.find(key);
            if (found == searches_.end()) {
                if (searches_.size() >= kMostSearches)
                    searches_.erase(
                        std::min_element(searches_.begin(), searches_.end(),
                                         [](const auto& a, const auto& b) { return a.second.used < b.second.used; }));
                search = promise.get_future().share();
                searches_.emplace(key, Entry{search, now, now});
                first = true;
            } else {
                found->second.used = now;
                refresh = now - found->second.made > kFresh && !found->second.refreshing;
                found->second.refreshing = found->second.refreshing || refresh;
                search = found->second.search;
            }
        }
        if (first)
            promise.set_value(make()); // the others asking for it meanwhile wait for this one
        if (!refresh)
            return search.get();
        Result<SharedSearch> made = make();
        const std::lock_guard lock(mutex_);
        if (const auto found = searches_.find(key); found != searches_.end() && generation == generation_) {
            promise.set_value(made);
            found->second = Entry{promise.get_future().share(), Clock::now(), found->second.used};
        }
        return made;
    }

    void Clear()
    {
        const std::lock_guard lock(mutex_);
        searches_.clear();
        ++generation_;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFresh{10};
    static constexpr std::chrono::seconds kKept{60};
    static constexpr std::size_t kMostSearches = 4; // each may hold 100,000 rows
    struct Entry {
        std::shared_future<Result<SharedSearch>> search;
        Clock::time_point made;
        Clock::time_point used;
        bool refreshing = false; // kept while it is made again, however long that takes
    };
    std::mutex mutex_;
    std::map<QString, Entry> searches_;
    std::uint64_t generation_ = 0; // counts the Clear calls
};

// What every handler of one ContentRoutes call shares.
struct Content {
    IndexLocation location;
    AccessLog* log = nullptr;
    quint64 generation = 0; // tells the connections of one set of routes from those of another
    std::shared_ptr<SearchCache> searches = std::make_shared<SearchCache>();
};

// The calling server thread's own connection to the index (a database connection belongs to the
// thread that opened it); null when the index cannot be reached now, tried again next time.
ArchiveIndex* ThreadIndex(const Content& content)
{
    struct Connection {
        quint64 generation = 0;
        std::unique_ptr<ArchiveIndex> index;
    };
    thread_local Connection connection;
    if (connection.index && connection.generation == content.generation)
        return connection.index.get();
    connection.index.reset();
    Result<std::unique_ptr<ArchiveIndex>> connected = ArchiveIndex::Connect(content.location);
    if (!connected)
        return nullptr;
    connection = {content.generation, std::move(*connected)};
    return connection.index.get();
}

QString Parameter(const Parameters& parameters, const QString& name)
{
    for (const auto& [key, value] : parameters)
        if (key == name)
            return value;
    return {};
}

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

QPair<QByteArray, QByteArray> Header(const QByteArray& name, const QByteArray& value)
{
    return {name, value};
}

WebResponse Json(const QJsonObject& object, int status = 200)
{
    WebResponse response;
    response.status = status;
    response.contentType = kJson;
    response.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return response;
}

WebResponse Refusal(int status, const QString& message)
{
    return Json(QJsonObject{{QStringLiteral("error"), message}}, status);
}

WebResponse NotFound()
{
    return Refusal(404, QStringLiteral("找不到这条录音"));
}

WebResponse IndexUnavailable()
{
    return Refusal(503, QStringLiteral("索引暂时无法使用"));
}

// A recording the request named by its id, found in a known folder of the index.
struct Located {
    std::string folder;
    std::string name;

    std::string path() const { return folder + name; }
};

std::optional<std::string> KnownFolderOfKey(ArchiveIndex& index, const QString& key)
{
    for (const std::string& folder : index.KnownFolders())
        if (FolderKey(folder) == key)
            return folder;
    return std::nullopt;
}

// The recording of id: the name must be a recording's name and the file a regular file (a
// symbolic link could lead out of the archive) in a folder the index knows; nothing otherwise.
std::optional<Located> Locate(ArchiveIndex& index, const QString& id)
{
    const std::optional<RecordingIdParts> parts = SplitRecordingId(id);
    if (!parts)
        return std::nullopt;
    const std::string& fileName = parts->fileName;
    if (!HasRecordingName(fileName) || fileName.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return std::nullopt;
    std::optional<std::string> folder = KnownFolderOfKey(index, parts->folderKey);
    if (!folder)
        return std::nullopt;
    Located located{std::move(*folder), fileName};
    struct stat status {};
    if (::lstat(located.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return located;
}

// The criteria of a search from the request's parameters: days "from" and "to" (YYYY-MM-DD, the
// widest range when left out), "phone", "mode" (one of the mode filter's items), "description"
// and "userType".
Result<SearchCriteria> CriteriaOf(const Parameters& parameters)
{
    SearchCriteria criteria;
    const auto day = [&](const QString& name, QDate fallback) -> std::optional<QDate> {
        const QString text = Parameter(parameters, name);
        if (text.isEmpty())
            return fallback;
        const QDate date = QDate::fromString(text, Qt::ISODate);
        return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
    };
    const std::optional<QDate> first = day(QStringLiteral("from"), QDate(2000, 1, 1));
    const std::optional<QDate> last = day(QStringLiteral("to"), QDate(2099, 12, 31));
    if (!first || !last)
        return Failure{"日期无效"};
    criteria.firstDay = *first;
    criteria.lastDay = *last;
    const std::string mode = Parameter(parameters, QStringLiteral("mode")).toStdString();
    if (!mode.empty()) {
        if (std::find(std::begin(kModeFilterItems), std::end(kModeFilterItems), mode) == std::end(kModeFilterItems))
            return Failure{"语音类型无效"};
        criteria.mode = mode;
    }
    criteria.phone = Parameter(parameters, QStringLiteral("phone")).toStdString();
    criteria.description = Parameter(parameters, QStringLiteral("description")).toStdString();
    criteria.userType = Parameter(parameters, QStringLiteral("userType")).toStdString();
    return criteria;
}

// The rows of a search over every known folder, or over the one whose key "folder" names.
Result<SearchResult> Search(ArchiveIndex& index, const Parameters& parameters)
{
    Result<SearchCriteria> criteria = CriteriaOf(parameters);
    if (!criteria)
        return criteria.error();
    const QString folderKey = Parameter(parameters, QStringLiteral("folder"));
    SearchResult result;
    if (folderKey.isEmpty()) {
        result = SearchKnownFolders(index, *criteria);
    } else {
        const std::optional<std::string> folder = KnownFolderOfKey(index, folderKey);
        if (!folder)
            return Failure{"找不到这个文件夹", ENOENT};
        result = SearchArchiveFolder(*folder, *criteria, {}, &index);
    }
    if (result.outcome == SearchOutcome::FromAfterTo)
        return Failure{std::string(kFromAfterToMessage)};
    if (result.outcome == SearchOutcome::FolderUnreadable)
        return Failure{"文件夹无法打开", ENOENT};
    return result;
}

WebResponse SearchRefusal(const Failure& failure)
{
    return Refusal(failure.error == ENOENT ? 404 : 400, Text(failure.reason));
}

std::string FolderOfRow(const RecordingEntry& row)
{
    return row.path().substr(0, row.path().size() - row.fileName().size());
}

QJsonObject RowJson(const RecordingEntry& row, const RecordingNote* note)
{
    QJsonArray texts;
    for (const std::string& text : row.texts)
        texts.append(Text(text));
    return {{QStringLiteral("id"), RecordingId(FolderOfRow(row), row.fileName())},
            {QStringLiteral("texts"), texts},
            {QStringLiteral("description"), note ? Text(note->description) : QString()},
            {QStringLiteral("userType"), note ? Text(note->userType) : QString()}};
}

// A positive whole number parameter; fallback when it is left out, nothing when it is no such number.
std::optional<int> Count(const Parameters& parameters, const QString& name, int fallback)
{
    const QString text = Parameter(parameters, name);
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value > 0 ? std::optional<int>(value) : std::nullopt;
}

// The rows' positions in the order "sort" (a column number) and "order" ("asc" or "desc") ask
// for, as a click on the column of the search window sorts them; the search's order without "sort".
Result<std::vector<int>> RowOrder(const std::vector<RecordingEntry>& rows, const Parameters& parameters)
{
    const QString column = Parameter(parameters, QStringLiteral("sort"));
    if (column.isEmpty()) {
        std::vector<int> order(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            order[i] = static_cast<int>(i);
        return order;
    }
    bool ok = false;
    const int sortColumn = column.toInt(&ok);
    if (!ok || sortColumn < 0 || sortColumn >= kColumnCount)
        return Failure{"排序列无效"};
    const bool descending = Parameter(parameters, QStringLiteral("order")) == QLatin1String("desc");
    // The number column sorts ascending with the flag set, every other column with it clear.
    const bool flag = (sortColumn == kColNumber) != descending;
    return SortedOrder(rows, SortState{sortColumn, flag});
}

// The search of the request's criteria in the order it asks for, made once for the requests
// of the next few seconds that ask for the same.
Result<SharedSearch> FindSearch(const Content& content, ArchiveIndex& index, const Parameters& parameters)
{
    QStringList key;
    for (const char* name : {"folder", "from", "to", "mode", "phone", "description", "userType", "sort", "order"})
        key << Parameter(parameters, QString::fromLatin1(name));
    return content.searches->Find(key.join(QLatin1Char('\n')), [&]() -> Result<SharedSearch> {
        Result<SearchResult> result = Search(index, parameters);
        if (!result)
            return result.error();
        Result<std::vector<int>> order = RowOrder(result->rows, parameters);
        if (!order)
            return order.error();
        return std::make_shared<const SortedSearch>(SortedSearch{std::move(*result), std::move(*order)});
    });
}

WebResponse HandleSearch(const Content& content, const WebRequest& request)
{
    ArchiveIndex* index = ThreadIndex(content);
    if (!index)
        return IndexUnavailable();
    const std::optional<int> page = Count(request.query, QStringLiteral("page"), 1);
    const std::optional<int> pageRows = Count(request.query, QStringLiteral("pageSize"), kDefaultPageRows);
    if (!page || !pageRows || *pageRows > kMaximumPageRows)
        return Refusal(400, QStringLiteral("页码无效"));
    const Result<SharedSearch> search = FindSearch(content, *index, request.query);
    if (!search)
        return SearchRefusal(search.error());
    const auto& [result, order] = **search;
    QJsonArray rows;
    const qint64 first = qint64(*page - 1) * *pageRows;
    const qint64 end = std::min<qint64>(qint64(order.size()), first + *pageRows);
    for (qint64 i = first; i < end; ++i) {
        const RecordingEntry& row = result.rows[order[i]];
        const auto note = result.notes.find(row.path());
        rows.append(RowJson(row, note == result.notes.end() ? nullptr : &note->second));
    }
    return Json({{QStringLiteral("total"), qint64(result.rows.size())},
                 {QStringLiteral("page"), *page},
                 {QStringLiteral("pageSize"), *pageRows},
                 {QStringLiteral("rows"), rows}});
}

QJsonArray TextArray(const auto& texts)
{
    QJsonArray array;
    for (const auto& text : texts)
        array.append(Text(std::string(text)));
    return array;
}

// What the search form offers: the column titles, the mode filter's items, the known folders and
// the user types of the notes.
WebResponse HandleSearchForm(const Content& content, const WebRequest&)
{
    ArchiveIndex* index = ThreadIndex(content);
    if (!index)
        return IndexUnavailable();
    QJsonArray folders;
    for (const std::string& folder : index->KnownFolders())
        folders.append(QJsonObject{{QStringLiteral("key"), FolderKey(folder)}, {QStringLiteral("path"), Text(folder)}});
    return Json({{QStringLiteral("columns"), TextArray(RecordingColumnTitles())},
                 {QStringLiteral("modes"), TextArray(kModeFilterItems)},
                 {QStringLiteral("folders"), folders},
                 {QStringLiteral("userTypes"), TextArray(index->UserTypes())}});
}

// The recording of the request's "id" with its head, or the response that refuses it.
struct Opened {
    Located located;
    RecordingHead head;
};
std::variant<Opened, WebResponse> OpenRecording(const Content& content, const Parameters& parameters)
{
    ArchiveIndex* index = ThreadIndex(content);
    if (!index)
        return IndexUnavailable();
    std::optional<Located> located = Locate(*index, Parameter(parameters, QStringLiteral("id")));
    if (!located)
        return NotFound();
    const std::optional<RecordingHead> head = ReadRecordingHead(located->path());
    if (!head)
        return NotFound();
    return Opened{std::move(*located), *head};
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

WebResponse HandleCall(const Content& content, const WebRequest& request)
{
    std::variant<Opened, WebResponse> opened = OpenRecording(content, request.query);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const auto& [located, head] = std::get<Opened>(opened);
    const RecordingEntry row = MakeRecordingEntry(located.folder, located.name, 0, head);
    const RecordingNote note = ThreadIndex(content)->NoteOf(IdentityOf(located.name, head));
    QJsonObject call = RowJson(row, &note);
    call.insert(QStringLiteral("columns"), TextArray(RecordingColumnTitles()));
    call.insert(QStringLiteral("mayChangeNote"), request.role >= WebRole::Note);
    return Json(call);
}

// Writes who did what with which recording; false when the log cannot be written.
bool Record(const Content& content, const WebRequest& request, WebAction action, const QString& id)
{
    const AccessEntry entry{QDateTime::currentDateTimeUtc(), request.account, action, id, request.address};
    return content.log->Append(entry).has_value();
}

WebResponse LogUnwritable()
{
    return Refusal(503, QStringLiteral("访问记录无法写入，请联系管理员"));
}

// The 16-bit PCM WAV of a recording, from byte `first` of it on, decoded as it is read.
class DecodedWave : public WebBodySource {
public:
    DecodedWave(RecordingDecoder decoder, qint64 first)
        : decoder_(std::move(decoder)), header_(WaveHeaderBytes(decoder_.OutputBytes())), first_(first)
    {
    }
    qint64 Read(qint64 offset, char* buffer, qint64 count) override
    {
        qint64 at = first_ + offset;
        if (at >= qint64(kWaveHeaderBytes) + decoder_.OutputBytes() || count <= 0)
            return 0;
        qint64 copied = 0;
        if (at < qint64(kWaveHeaderBytes)) {
            copied = std::min(count, qint64(kWaveHeaderBytes) - at);
            std::memcpy(buffer, header_.data() + at, std::size_t(copied));
            at += copied;
        }
        if (copied < count)
            copied += qint64(decoder_.DecodeBytes(std::uint64_t(at - kWaveHeaderBytes),
                                                  reinterpret_cast<unsigned char*>(buffer + copied),
                                                  std::size_t(count - copied)));
        return copied > 0 ? copied : -1; // nothing before the end: the file was cut short meanwhile
    }

private:
    RecordingDecoder decoder_;
    std::array<unsigned char, kWaveHeaderBytes> header_;
    qint64 first_;
};

// A file opened and already unlinked, from byte `first` of it on.
class FileBody : public WebBodySource {
public:
    FileBody(UniqueFd file, qint64 first) : file_(std::move(file)), first_(first) {}

    qint64 Read(qint64 offset, char* buffer, qint64 count) override
    {
        const ssize_t read = ::pread(file_.get(), buffer, std::size_t(count), first_ + offset);
        return read > 0 ? read : (read == 0 ? 0 : -1);
    }

private:
    UniqueFd file_;
    qint64 first_;
};

// The body of `size` bytes whole (200), or the one range the Range header asks for (206); a
// Range header that asks for no single satisfiable range is refused (416). body makes the body
// from a first byte on.
WebResponse RangedBody(const WebRequest& request, qint64 size, const QByteArray& contentType,
                       const std::function<std::shared_ptr<WebBodySource>(qint64 first)>& body)
{
    WebResponse response;
    response.contentType = contentType;
    response.headers.append(Header("Accept-Ranges", "bytes"));
    ByteRange range{0, size - 1};
    if (!request.range.isEmpty()) {
        const std::optional<ByteRange> asked = ParseByteRange(request.range, size);
        if (!asked) {
            response.status = 416;
            response.headers.append(Header("Content-Range", "bytes */" + QByteArray::number(size)));
            return response;
        }
        range = *asked;
        response.status = 206;
        response.headers.append(Header("Content-Range", "bytes " + QByteArray::number(range.first) + "-"
                                                            + QByteArray::number(range.last) + "/"
                                                            + QByteArray::number(size)));
    }
    response.sourceSize = range.last - range.first + 1;
    if (request.method != "HEAD")
        response.source = body(range.first);
    return response;
}

// Each playback or download is logged once: for its first request, not for every range the
// browser asks for while it plays or seeks.
bool StartsTheBody(const WebRequest& request)
{
    if (request.method == "HEAD")
        return false;
    if (request.range.isEmpty())
        return true;
    const std::optional<ByteRange> range = ParseByteRange(request.range, std::numeric_limits<qint64>::max());
    return range && range->first == 0;
}

WebResponse WaveBody(const Content& content, const WebRequest& request, const Located& located, WebAction action)
{
    Result<RecordingDecoder> decoder = RecordingDecoder::Open(located.path());
    if (!decoder)
        return Refusal(422, QStringLiteral("这条录音无法解码"));
    if (StartsTheBody(request) && !Record(content, request, action, Parameter(request.query, QStringLiteral("id"))))
        return LogUnwritable();
    const qint64 size = qint64(kWaveHeaderBytes) + decoder->OutputBytes();
    return RangedBody(request, size, "audio/wav",
                      [&](qint64 first) { return std::make_shared<DecodedWave>(std::move(*decoder), first); });
}

QByteArray AttachmentHeader(const RecordingHead& head, const std::string& name, CallFormat format)
{
    const std::string suggested = SuggestedCallFileName(HeaderOf(head), format);
    const QByteArray plain =
        QByteArray::fromStdString(name.substr(0, name.find('.')) + "." + std::string(CallFormatExtension(format)));
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''"
           + QUrl::toPercentEncoding(QString::fromStdString(suggested));
}

// The recording encoded as MP3 into a temporary file, which is removed at once and read from
// its descriptor: libsndfile's MP3 encoder writes to a file, and the response needs the size
// before its first byte.
WebResponse Mp3Body(const Content& content, const WebRequest& request)
{
    std::variant<Opened, WebResponse> opened = OpenRecording(content, request.query);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const auto& [located, head] = std::get<Opened>(opened);
    const QTemporaryDir folder; // private (0700), removed with the file once the file is open
    if (!folder.isValid())
        return Refusal(500, QStringLiteral("临时文件无法创建"));
    const std::string temporary = folder.filePath(QStringLiteral("call.mp3")).toStdString();
    const RecordingNote note = ThreadIndex(content)->NoteOf(IdentityOf(located.name, head));
    const Result<void> saved =
        SaveRecordingAs(located.path(), CallFormat::Mp3, CallTagsOf(HeaderOf(head), note.description), temporary);
    UniqueFd file(saved ? ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0)
        return Refusal(422, QStringLiteral("这条录音无法转换为MP3"));
    if (StartsTheBody(request)
        && !Record(content, request, WebAction::Download, Parameter(request.query, QStringLiteral("id"))))
        return LogUnwritable();
    WebResponse response = RangedBody(request, status.st_size, "audio/mpeg",
                                      [&](qint64 first) { return std::make_shared<FileBody>(std::move(file), first); });
    if (response.status < 300)
        response.headers.append(Header("Content-Disposition", AttachmentHeader(head, located.name, CallFormat::Mp3)));
    return response;
}

WebResponse HandleDownload(const Content& content, const WebRequest& request)
{
    const QString format = Parameter(request.query, QStringLiteral("format"));
    if (format == QLatin1String("mp3"))
        return Mp3Body(content, request);
    if (!format.isEmpty() && format != QLatin1String("wav"))
        return Refusal(400, QStringLiteral("下载格式无效"));
    std::variant<Opened, WebResponse> opened = OpenRecording(content, request.query);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const auto& [located, head] = std::get<Opened>(opened);
    WebResponse response = WaveBody(content, request, located, WebAction::Download);
    if (response.status < 300)
        response.headers.append(Header("Content-Disposition", AttachmentHeader(head, located.name, CallFormat::Wav)));
    return response;
}

WebResponse HandleOutline(const Content& content, const WebRequest& request)
{
    std::variant<Opened, WebResponse> opened = OpenRecording(content, request.query);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const std::optional<int> points = Count(request.query, QStringLiteral("points"), kDefaultOutlinePoints);
    if (!points || std::size_t(*points) > kOutlinePoints)
        return Refusal(400, QStringLiteral("点数无效"));
    const Result<Outline> outline = OutlineOfRecording(std::get<Opened>(opened).located.path(), std::size_t(*points));
    if (!outline)
        return Refusal(422, QStringLiteral("这条录音无法解码"));
    QJsonArray peaks;
    for (const std::uint16_t peak : *outline)
        peaks.append(int(peak));
    return Json({{QStringLiteral("peaks"), peaks}});
}

WebResponse HandleNoteChange(const Content& content, const WebRequest& request)
{
    std::variant<Opened, WebResponse> opened = OpenRecording(content, request.form);
    if (auto* refused = std::get_if<WebResponse>(&opened))
        return *refused;
    const auto& [located, head] = std::get<Opened>(opened);
    const RecordingNote note{Parameter(request.form, QStringLiteral("description")).toStdString(),
                             Parameter(request.form, QStringLiteral("userType")).trimmed().toStdString()};
    if (const Result<void> stored = ThreadIndex(content)->SetNote(IdentityOf(located.name, head), note); !stored)
        return Refusal(503, Text(stored.error().reason));
    content.searches->Clear();
    if (!Record(content, request, WebAction::NoteChange, Parameter(request.form, QStringLiteral("id"))))
        return Refusal(500, QStringLiteral("备注已保存，但访问记录无法写入，请联系管理员"));
    return Json(NoteJson(note));
}

QJsonObject TableJson(const TextTable& table)
{
    QJsonArray rows;
    for (const std::vector<std::string>& row : table.rows)
        rows.append(TextArray(row));
    return {{QStringLiteral("titles"), TextArray(table.titles)}, {QStringLiteral("rows"), rows}};
}

// The figures of the search's rows as the statistics window's tables: the totals, the periods
// of the automatic kind (the sheet's rows of that part, without their part) and the top numbers.
WebResponse HandleStatistics(const Content& content, const WebRequest& request)
{
    ArchiveIndex* index = ThreadIndex(content);
    if (!index)
        return IndexUnavailable();
    Parameters inSearchOrder = request.query;
    inSearchOrder.removeIf([](const auto& parameter) { return parameter.first == QLatin1String("sort"); });
    const Result<SharedSearch> search = FindSearch(content, *index, inSearchOrder);
    if (!search)
        return SearchRefusal(search.error());
    const Result<std::vector<NotedRecording>> notes = index->AllNotes();
    const CallStatistics statistics =
        CountCalls((*search)->result.rows, notes ? UserTypesOf(*notes) : UserTypesByNumber{});
    const PeriodKind kind = AutomaticPeriod(statistics);
    const std::string periodPart = "按" + std::string(kPeriodKindNames[std::size_t(kind)]);
    TextTable periods = StatisticsSheet(statistics, kind);
    std::erase_if(periods.rows, [&](const std::vector<std::string>& row) { return row.front() != periodPart; });
    for (std::vector<std::string>& row : periods.rows)
        row.erase(row.begin());
    periods.titles.erase(periods.titles.begin());
    return Json({{QStringLiteral("periodPart"), Text(periodPart)},
                 {QStringLiteral("totals"), TableJson(TotalsTable(statistics))},
                 {QStringLiteral("periods"), TableJson(periods)},
                 {QStringLiteral("mostCalls"), TableJson(NumbersTable(statistics.mostCalls))},
                 {QStringLiteral("mostTalk"), TableJson(NumbersTable(statistics.mostTalk))}});
}

// voctool beside the running program (both are installed into one folder), else on the PATH.
QString VoctoolProgram()
{
    const QString beside =
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2)
        + QStringLiteral("/voctool");
    return QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(QStringLiteral("voctool"));
}

// The words of `voctool stats` for the search of the request and the picture at png.
Result<QStringList> ChartArguments(ArchiveIndex& index, const Parameters& parameters, const QString& png)
{
    const Result<SearchCriteria> criteria = CriteriaOf(parameters);
    if (!criteria)
        return criteria.error();
    QStringList words{QStringLiteral("stats")};
    if (const QString key = Parameter(parameters, QStringLiteral("folder")); key.isEmpty()) {
        words << QStringLiteral("--all");
    } else if (const std::optional<std::string> folder = KnownFolderOfKey(index, key)) {
        words << Text(*folder);
    } else {
        return Failure{"找不到这个文件夹", ENOENT};
    }
    words << QStringLiteral("--from") << criteria->firstDay.toString(Qt::ISODate) << QStringLiteral("--to")
          << criteria->lastDay.toString(Qt::ISODate) << QStringLiteral("--mode") << Text(criteria->mode);
    const std::pair<const char*, const std::string*> optional[] = {
        {"--phone", &criteria->phone}, {"--desc", &criteria->description}, {"--user-type", &criteria->userType}};
    for (const auto& [option, value] : optional)
        if (!value->empty())
            words << QString::fromLatin1(option) << Text(*value);
    return words << QStringLiteral("--png") << png;
}

// The chart picture of the statistics of the search, as "通话统计" draws it: drawing needs Qt
// Widgets and Qt Charts and an application object of their own, so voctool draws it in a process
// of its own (as its stats --png does), a few at a time.
WebResponse HandleChart(const Content& content, const WebRequest& request)
{
    constexpr int kMostDrawings = 2;
    constexpr int kDrawingMilliseconds = 60000;
    static std::atomic<int> drawing{0};
    ArchiveIndex* index = ThreadIndex(content);
    if (!index)
        return IndexUnavailable();
    const QTemporaryDir folder;
    const QString png = folder.filePath(QStringLiteral("chart.png"));
    const Result<QStringList> arguments = ChartArguments(*index, request.query, png);
    if (!arguments)
        return SearchRefusal(arguments.error());
    const QString voctool = VoctoolProgram();
    if (voctool.isEmpty() || !folder.isValid())
        return Refusal(503, QStringLiteral("图表暂时无法绘制"));
    if (drawing.fetch_add(1) >= kMostDrawings) {
        drawing.fetch_sub(1);
        return Refusal(503, QStringLiteral("正在绘制其他图表，请稍后再试"));
    }
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(voctool, *arguments);
    const bool finished = process.waitForFinished(kDrawingMilliseconds);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    drawing.fetch_sub(1);
    QFile picture(png);
    if (!finished || process.exitCode() != 0 || !picture.open(QIODevice::ReadOnly))
        return Refusal(500, QStringLiteral("图表无法绘制"));
    WebResponse response;
    response.contentType = "image/png";
    response.body = picture.readAll();
    return response;
}

// The pages and their styles and scripts, from the program's resources.
WebResponse Resource(const QString& name)
{
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return Refusal(404, QStringLiteral("找不到这个页面"));
    WebResponse response;
    if (name.endsWith(QLatin1String(".html")))
        response.contentType = "text/html; charset=utf-8";
    else if (name.endsWith(QLatin1String(".css")))
        response.contentType = "text/css; charset=utf-8";
    else
        response.contentType = "text/javascript; charset=utf-8";
    response.body = file.readAll();
    return response;
}

WebResponse HandleStatic(const WebRequest& request)
{
    static const QRegularExpression plainName(QStringLiteral("^/static/[a-z0-9_-]+\\.(css|js)$"));
    if (!plainName.match(request.path).hasMatch())
        return Refusal(404, QStringLiteral("找不到这个页面"));
    return Resource(request.path.mid(1));
}

} // namespace

QList<WebRoute> ContentRoutes(AccessLog& log, const IndexLocation& index)
{
    static std::atomic<quint64> generations{0};
    // The owner's opening makes or updates the tables the threads' connections then find.
    ArchiveIndex::Open(index);
    auto content = std::make_shared<const Content>(Content{index, &log, ++generations});
    const auto route = [&](const QByteArray& method, const QString& path, WebRole role, bool changes,
                           WebResponse (*handler)(const Content&, const WebRequest&)) {
        return WebRoute{method, path, role, changes,
                        [content, handler](const WebRequest& request) { return handler(*content, request); }};
    };
    const auto page = [](const QString& path, const QString& resource) {
        return WebRoute{"GET", path, WebRole::Listen, false,
                        [resource](const WebRequest&) { return Resource(resource); }};
    };
    const auto play = [](const Content& content, const WebRequest& request) {
        std::variant<Opened, WebResponse> opened = OpenRecording(content, request.query);
        if (auto* refused = std::get_if<WebResponse>(&opened))
            return *refused;
        return WaveBody(content, request, std::get<Opened>(opened).located, WebAction::Play);
    };
    return {page(QStringLiteral("/call"), QStringLiteral("call.html")),
            page(QStringLiteral("/statistics"), QStringLiteral("statistics.html")),
            WebRoute{"GET", QStringLiteral("/static/"), WebRole::Listen, false, HandleStatic},
            route("GET", QStringLiteral("/api/search-form"), WebRole::Listen, false, HandleSearchForm),
            route("GET", QStringLiteral("/api/search"), WebRole::Listen, false, HandleSearch),
            route("GET", QStringLiteral("/api/statistics"), WebRole::Listen, false, HandleStatistics),
            route("GET", QStringLiteral("/api/statistics/chart"), WebRole::Listen, false, HandleChart),
            route("GET", QStringLiteral("/api/call"), WebRole::Listen, false, HandleCall),
            route("GET", QStringLiteral("/api/outline"), WebRole::Listen, false, HandleOutline),
            route("GET", QStringLiteral("/api/audio"), WebRole::Listen, false, play),
            route("GET", QStringLiteral("/api/download"), WebRole::Listen, false, HandleDownload),
            route("POST", QStringLiteral("/api/note"), WebRole::Note, true, HandleNoteChange),
            // A path of "/" is a prefix of every path: last, and the search page for "/" alone.
            WebRoute{"GET", QStringLiteral("/"), WebRole::Listen, false, [](const WebRequest& request) {
                         return request.path == QLatin1String("/") ? Resource(QStringLiteral("search.html"))
                                                                   : Refusal(404, QStringLiteral("找不到这个页面"));
                     }}};
}

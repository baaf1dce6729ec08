#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "index/archive_index.h"
#include "platform/text_codec.h"
#include "search/archive_search.h"
#include "statistics/call_statistics.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

void WriteRecording(const std::string& path, const std::string& phone, std::uint32_t dataBytes = 512)
{
    ASSERT_TRUE(WriteSampleFile(path, SampleSpec{.phone = phone, .dataBytes = dataBytes}));
}

IndexLocation SqliteAt(const std::string& path)
{
    IndexLocation location;
    location.sqlitePath = path;
    return location;
}

// With SDVOICE_TEST_POSTGRES set (test_archive_index_postgres runs this program so inside a
// throw-away cluster), the index lives on the server that the PG* variables name.
bool OnPostgres()
{
    return std::getenv("SDVOICE_TEST_POSTGRES") != nullptr;
}

IndexLocation TestLocation(const std::string& sqlitePath)
{
    if (!OnPostgres())
        return SqliteAt(sqlitePath);
    IndexLocation location;
    location.driver = QStringLiteral("QPSQL");
    location.host = qEnvironmentVariable("PGHOST");
    location.port = qEnvironmentVariableIntValue("PGPORT");
    location.database = qEnvironmentVariable("PGDATABASE");
    location.user = qEnvironmentVariable("PGUSER");
    location.password = qEnvironmentVariable("PGPASSWORD");
    return location;
}

// Every test starts from an empty server database.
void EmptyServerDatabase()
{
    const QString name = QStringLiteral("emptying");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        const IndexLocation location = TestLocation({});
        db.setHostName(location.host);
        db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        db.setPassword(location.password);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("DROP TABLE IF EXISTS notes, folders, files, schema_version, noted_places, place_folders, index_state"));
    }
    QSqlDatabase::removeDatabase(name);
}

std::int64_t NanosecondsFromNow(std::chrono::seconds ahead)
{
    const auto later = std::chrono::system_clock::now() + ahead;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(later.time_since_epoch()).count();
}

// An index whose clock runs an hour ahead: the files just written count as settled.
std::unique_ptr<ArchiveIndex> OpenIndex(const std::string& path)
{
    ArchiveIndex::Opened opened = ArchiveIndex::Open(TestLocation(path));
    EXPECT_TRUE(opened.message.empty()) << opened.message;
    if (opened.index)
        opened.index->SetClock([] { return NanosecondsFromNow(std::chrono::hours(1)); });
    return std::move(opened.index);
}

// The names of the files opened in a folder since the last call, in byte order.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        EXPECT_GE(::inotify_add_watch(fd_, folder.c_str(), IN_OPEN), 0);
    }
    ~OpenWatch() { ::close(fd_); }
    std::vector<std::string> Take() const
    {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[65536];
        for (ssize_t length; (length = ::read(fd_, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0)
                    names.emplace_back(event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    int fd_;
};

std::vector<std::vector<std::string>> Texts(const std::vector<RecordingEntry>& rows)
{
    std::vector<std::vector<std::string>> texts;
    for (const RecordingEntry& row : rows)
        texts.emplace_back(row.texts.begin(), row.texts.end());
    return texts;
}

std::vector<RecordingEntry> IndexedRows(ArchiveIndex& index, const std::string& folder)
{
    SearchCriteria everyDay;
    everyDay.firstDay = QDate(2000, 1, 1);
    everyDay.lastDay = QDate(2099, 12, 31);
    return SearchArchiveFolder(folder, everyDay, {}, &index).rows;
}

// The phone text of the row of fileName (the walk lists in directory order).
std::string PhoneOf(const std::vector<RecordingEntry>& rows, const std::string& fileName)
{
    for (const RecordingEntry& row : rows)
        if (row.fileName() == fileName)
            return row.phone();
    return "no row for " + fileName;
}

RecordingIdentity IdentityOfFile(const std::string& path)
{
    const std::optional<RecordingHead> head = ReadRecordingHead(path);
    EXPECT_TRUE(head.has_value()) << path;
    return IdentityOf(fs::path(path).filename().string(), head.value_or(RecordingHead{}));
}

class ArchiveIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 1; i <= 5; ++i)
            WriteRecording(Folder() + "VOC0000" + std::to_string(i) + ".WAV", "1380000000" + std::to_string(i));
        archive.Write("calls/VOC00006.WAV", "too short for a header");
        if (OnPostgres())
            EmptyServerDatabase();
    }
    std::string Folder() const { return archive.Path("calls/"); }
    std::string DatabasePath() const { return home.Path("archive.db"); }

    TempFolder home;
    TempFolder archive;
    const bool made = fs::create_directory(archive.Path("calls"));
};

// The index gives the rows of the walk, reads a file again only when its size or time
// changed, drops deleted files and lists a renamed folder from its new place.
TEST_F(ArchiveIndexTest, ListingFollowsTheFilesAndOpensOnlyChangedOnes)
{
    const std::vector<RecordingEntry> walked = ListRecordings(Folder());
    const OpenWatch opens(Folder());
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    EXPECT_EQ(Texts(IndexedRows(*index, Folder())), Texts(walked));
    EXPECT_EQ(opens.Take().size(), 6u) << "the first listing reads every file";
    EXPECT_EQ(Texts(IndexedRows(*index, Folder())), Texts(walked));
    EXPECT_EQ(opens.Take(), std::vector<std::string>{}) << "nothing changed, nothing opened";

    // Another recording of the same size under the old modification time: still read again.
    const std::string second = Folder() + "VOC00002.WAV";
    const auto time = fs::last_write_time(second);
    WriteRecording(second, "13999999999");
    fs::last_write_time(second, time);
    opens.Take();
    EXPECT_EQ(PhoneOf(IndexedRows(*index, Folder()), "VOC00002.WAV"), "13999999999");
    EXPECT_EQ(opens.Take(), std::vector<std::string>{"VOC00002.WAV"});
    WriteRecording(second, "13777777777", 4096);
    index = OpenIndex(DatabasePath());
    EXPECT_EQ(Texts(IndexedRows(*index, Folder())), Texts(ListRecordings(Folder())));

    fs::remove(Folder() + "VOC00003.WAV");
    EXPECT_EQ(Texts(IndexedRows(*index, Folder())), Texts(ListRecordings(Folder())));
    EXPECT_EQ(IndexedRows(*index, Folder()).size(), 4u);

    const std::string renamed = archive.Path("renamed/");
    fs::rename(archive.Path("calls"), archive.Path("renamed"));
    EXPECT_EQ(Texts(IndexedRows(*index, renamed)), Texts(ListRecordings(renamed)));
    EXPECT_EQ(IndexedRows(*index, renamed)[0].path().rfind(renamed, 0), 0u);
    EXPECT_TRUE(IndexedRows(*index, Folder()).empty());
}

// The cache is stored while the walk goes on, in batches: a listing ended early (a new one
// started) leaves some of its files stored, and the next listings must still be whole and, once
// one completed, open nothing.
TEST_F(ArchiveIndexTest, ListingEndedEarlyLeavesTheNextOnesWhole)
{
    const std::string folder = archive.Path("many/");
    fs::create_directory(folder);
    for (int i = 0; i < 2600; ++i)
        WriteRecording(folder + "VOC" + std::to_string(10000 + i) + ".WAV", std::to_string(13800000000LL + i));
    const std::vector<RecordingEntry> walked = ListRecordings(folder);
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    int rows = 0;
    index->WalkFolder(folder, [&](const WalkEntry&, IndexedRow*) { return ++rows < 2500; });
    EXPECT_EQ(rows, 2500);
    EXPECT_EQ(Texts(IndexedRows(*index, folder)), Texts(walked));
    const OpenWatch opens(folder);
    EXPECT_EQ(Texts(IndexedRows(*index, folder)), Texts(walked));
    EXPECT_EQ(opens.Take(), std::vector<std::string>{});
}

// A listing with subfolders makes known the folders it read: the folder and the subfolders that
// hold recordings, not the empty ones nor the hidden ones; and it stops between folders when told.
TEST_F(ArchiveIndexTest, AListingWithSubfoldersMakesOnlyFoldersWithRecordingsKnown)
{
    for (const char* subfolder : {"2014年03月/", "empty/deeper/", ".replaced/2014-03-05/"})
        fs::create_directories(Folder() + subfolder);
    WriteRecording(Folder() + "2014年03月/VOC00011.WAV", "11");
    WriteRecording(Folder() + "empty/deeper/VOC00012.WAV", "12");
    WriteRecording(Folder() + ".replaced/2014-03-05/VOC00013.WAV", "13");
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    FoundRows found;
    ASSERT_TRUE(ListFolderRows(Folder(), found, {}, index.get(), FolderScope::WithSubfolders));
    EXPECT_EQ(found.rows.size(), 7u);
    EXPECT_EQ(index->KnownFolders(),
              (std::vector<std::string>{Folder(), Folder() + "2014年03月/", Folder() + "empty/deeper/"}));

    int asked = 0; // once after each of the six entries of the folder, then before its first subfolder
    FoundRows stopped;
    ListFolderRows(
        Folder(), stopped, [&] { return ++asked <= 6; }, index.get(), FolderScope::WithSubfolders);
    EXPECT_EQ(stopped.rows.size(), 5u);
    EXPECT_EQ(asked, 7);
}

// A note belongs to the recording: it is found in the folder the file was moved to, by a
// search of every folder the index knows, and after the index is opened again.
TEST_F(ArchiveIndexTest, NoteFollowsTheRecordingAcrossFolders)
{
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    const RecordingNote note{"客户同意了 Price", "大客户"};
    ASSERT_TRUE(index->SetNote(IdentityOfFile(Folder() + "VOC00004.WAV"), note));
    ASSERT_TRUE(index->SetNote(IdentityOfFile(Folder() + "VOC00005.WAV"), {"价格另议", "散客"}));
    IndexedRows(*index, Folder());
    // The statistics read the user type of every noted recording.
    std::vector<std::pair<std::string, std::string>> userTypes;
    ASSERT_TRUE(index->VisitUserTypes(
        [&](std::string_view record, std::string_view type) { userTypes.emplace_back(record, type); }));
    std::sort(userTypes.begin(), userTypes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(userTypes, (std::vector<std::pair<std::string, std::string>>{
                             {IdentityOfFile(Folder() + "VOC00004.WAV").record, "大客户"},
                             {IdentityOfFile(Folder() + "VOC00005.WAV").record, "散客"}}));

    const std::string moved = archive.Path("moved/");
    fs::create_directory(moved);
    fs::rename(Folder() + "VOC00004.WAV", moved + "VOC00004.WAV");
    index = OpenIndex(DatabasePath());
    FoundRows listed;
    ListFolderRows(moved, listed, {}, index.get());
    ASSERT_EQ(listed.notes.size(), 1u);
    EXPECT_EQ(listed.notes.at(moved + "VOC00004.WAV"), note);
    EXPECT_EQ(index->UserTypes(), (std::vector<std::string>{"大客户", "散客"}));

    SearchCriteria byNote;
    byNote.firstDay = QDate(2000, 1, 1);
    byNote.lastDay = QDate(2099, 12, 31);
    byNote.description = "  price ";
    SearchResult found = SearchKnownFolders(*index, byNote);
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(found.rows[0].path(), moved + "VOC00004.WAV");
    byNote.description.clear();
    byNote.userType = "散客";
    found = SearchKnownFolders(*index, byNote);
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(found.rows[0].fileName(), "VOC00005.WAV");

    // A recording noted meanwhile at another desk sharing the index is found as well, and with
    // no recording changed no file is opened to find them.
    std::unique_ptr<ArchiveIndex> otherDesk = OpenIndex(DatabasePath());
    ASSERT_TRUE(otherDesk->SetNote(IdentityOfFile(Folder() + "VOC00001.WAV"), {"PRICE agreed", ""}));
    const OpenWatch opensHere(Folder()), opensMoved(moved);
    byNote.userType.clear();
    byNote.description = "price";
    for (int search = 0; search < 2; ++search) {
        found = SearchKnownFolders(*index, byNote);
        ASSERT_EQ(found.rows.size(), 2u);
        EXPECT_EQ(found.rows[0].path(), Folder() + "VOC00001.WAV");
        EXPECT_EQ(found.rows[1].path(), moved + "VOC00004.WAV");
    }
    EXPECT_EQ(opensHere.Take(), std::vector<std::string>{});
    EXPECT_EQ(opensMoved.Take(), std::vector<std::string>{});

    ASSERT_TRUE(index->SetNote(IdentityOfFile(moved + "VOC00004.WAV"), {}));
    EXPECT_TRUE(index->NoteOf(IdentityOfFile(moved + "VOC00004.WAV")).empty());
}

// A file that is not a database is set aside by the index's owner, once, under a name the
// message gives, and a fresh index takes its place. A worker's connection never sets it aside:
// before the owner has opened the index it fails and leaves the file as it is.
TEST_F(ArchiveIndexTest, DamagedDatabaseIsSetAsideOnceByItsOwnerAndReplaced)
{
    const std::string garbage(70000, '\x5A');
    TempFolder::WriteFile(DatabasePath(), garbage);
    EXPECT_FALSE(ArchiveIndex::Connect(SqliteAt(DatabasePath())));
    EXPECT_EQ(TempFolder::Read(DatabasePath()), garbage);
    ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(DatabasePath()));
    ASSERT_TRUE(opened.index);
    EXPECT_NE(opened.message.find(DatabasePath()), std::string::npos) << opened.message;
    EXPECT_NE(opened.message.find("voctool notes import"), std::string::npos) << opened.message;
    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(home.path()))
        if (entry.path().filename().string().starts_with("archive.db.damaged-"))
            aside.push_back(entry.path().string());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(opened.message.find(aside[0]), std::string::npos);
    EXPECT_EQ(TempFolder::Read(aside[0]), garbage);
    EXPECT_EQ(Texts(IndexedRows(*opened.index, Folder())), Texts(ListRecordings(Folder())));
    EXPECT_TRUE(opened.index->SetNote(IdentityOfFile(Folder() + "VOC00001.WAV"), {"ok", ""}));
    const Result<std::unique_ptr<ArchiveIndex>> worker = ArchiveIndex::Connect(SqliteAt(DatabasePath()));
    ASSERT_TRUE(worker) << worker.error().reason;
    EXPECT_EQ((*worker)->NoteOf(IdentityOfFile(Folder() + "VOC00001.WAV")).description, "ok");
}

// What SQLite's integrity check says of the file ("ok" when sound).
std::string IntegrityOf(const std::string& path)
{
    std::string verdict = "cannot be opened";
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(QString::fromStdString(path));
        QSqlQuery check(db);
        if (db.open() && check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next())
            verdict = check.value(0).toString().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return verdict;
}

// Writes notes 0, 1, 2 ... and reports each number on out once SetNote has returned.
[[noreturn]] void WriteNotesUntilKilled(const std::string& databasePath, int round, int out)
{
    ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(databasePath));
    for (int i = 0; opened.index; ++i) {
        const RecordingIdentity identity{"VOC" + std::to_string(round) + ".WAV", static_cast<std::uint64_t>(i),
                                         std::string(kHeaderSize, 'r')};
        if (!opened.index->SetNote(identity, {"note " + std::to_string(i), "crash"}))
            break;
        if (::write(out, &i, sizeof i) != sizeof i)
            break;
    }
    ::_exit(1);
}

// A writer killed at any moment loses no note whose write had returned, and leaves a sound file.
TEST_F(ArchiveIndexTest, NotesSurviveAWriterKilledAtRandom)
{
    std::mt19937 random(12);
    for (int round = 0; round < 12; ++round) {
        int channel[2];
        ASSERT_EQ(::pipe(channel), 0);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            ::close(channel[0]);
            WriteNotesUntilKilled(DatabasePath(), round, channel[1]);
        }
        ::close(channel[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(30, 250)(random)));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        int last = -1;
        for (int reported = 0; ::read(channel[0], &reported, sizeof reported) == sizeof reported;)
            last = reported;
        ::close(channel[0]);

        std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
        ASSERT_TRUE(index);
        for (int i = 0; i <= last; ++i)
            ASSERT_EQ(index
                          ->NoteOf({"VOC" + std::to_string(round) + ".WAV", static_cast<std::uint64_t>(i),
                                    std::string(kHeaderSize, 'r')})
                          .description,
                      "note " + std::to_string(i))
                << "round " << round << " of " << last;
    }
    EXPECT_EQ(IntegrityOf(DatabasePath()), "ok");
}

SearchCriteria EveryDayWithNote(const std::string& description)
{
    SearchCriteria criteria;
    criteria.firstDay = QDate(2000, 1, 1);
    criteria.lastDay = QDate(2099, 12, 31);
    criteria.description = description;
    return criteria;
}

// Three programs write 150 notes each into one index at once while a fourth searches by note:
// every write waits for the others instead of failing, and the file stays sound.
TEST_F(ArchiveIndexTest, SeveralWritersAtOnceKeepEveryNote)
{
    constexpr int kWriters = 3;
    constexpr int kNotesEach = 150;
    std::atomic<int> refused{0};
    std::atomic<bool> writing{true};
    std::mutex reasonsLock;
    std::vector<std::string> reasons;
    const auto refuse = [&](const std::string& reason) {
        ++refused;
        const std::lock_guard<std::mutex> lock(reasonsLock);
        reasons.push_back(reason);
    };
    const auto write = [&](int writer) {
        ArchiveIndex::Opened opened = ArchiveIndex::Open(TestLocation(DatabasePath()));
        for (int i = 0; i < kNotesEach; ++i) {
            const RecordingIdentity identity{"VOC0" + std::to_string(writer) + "000.WAV", static_cast<std::uint64_t>(i),
                                             std::string(kHeaderSize, 'w')};
            const Result<void> saved = opened.index ? opened.index->SetNote(identity, {"price " + std::to_string(i), "w"})
                                                    : Result<void>(Failure{opened.message});
            if (!saved)
                refuse(saved.error().reason);
        }
    };
    std::promise<void> searcherReady;
    const auto search = [&] {
        ArchiveIndex::Opened opened = ArchiveIndex::Open(TestLocation(DatabasePath()));
        if (opened.index)
            opened.index->WalkFolder(Folder(), [](const WalkEntry&, IndexedRow*) { return true; });
        searcherReady.set_value();
        if (!opened.index)
            return refuse(opened.message);
        do {
            SearchKnownFolders(*opened.index, EveryDayWithNote("price"));
            if (!opened.index->NotesMentioning("price"))
                refuse("the search failed");
        } while (writing);
    };
    std::vector<std::future<void>> writers;
    std::future<void> searcher = std::async(std::launch::async, search);
    if (searcherReady.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        writing = false;
        FAIL() << "the searcher did not start";
    }
    for (int writer = 0; writer < kWriters; ++writer)
        writers.push_back(std::async(std::launch::async, write, writer));
    for (std::future<void>& writer : writers)
        ASSERT_EQ(writer.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "a writer did not finish";
    writing = false;
    ASSERT_EQ(searcher.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the searcher did not stop";

    EXPECT_EQ(refused, 0) << (reasons.empty() ? "" : reasons.front());
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    const Result<std::vector<NotedRecording>> kept = index->AllNotes();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), static_cast<std::size_t>(kWriters * kNotesEach));
    if (!OnPostgres()) {
        EXPECT_EQ(IntegrityOf(DatabasePath()), "ok");
    }
}

// A search of every known folder by note keeps only the rows that the day, mode and phone
// filters keep too.
TEST_F(ArchiveIndexTest, NoteSearchOfEveryFolderAppliesTheOtherFilters)
{
    fs::remove(Folder() + "VOC00006.WAV");
    ASSERT_TRUE(WriteSampleFile(Folder() + "VOC00007.WAV", SampleSpec{.mode = 'B', .phone = "13800000007", .day = 9}));
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    for (const RecordingEntry& row : IndexedRows(*index, Folder()))
        ASSERT_TRUE(index->SetNote(IdentityOfFile(row.path()), {"price", ""}));
    const auto found = [&](SearchCriteria criteria) {
        std::vector<std::string> names;
        for (const RecordingEntry& row : SearchKnownFolders(*index, criteria).rows)
            names.push_back(row.fileName());
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(found(EveryDayWithNote("price")).size(), 6u);
    SearchCriteria byPhone = EveryDayWithNote("price");
    byPhone.phone = "13800000003";
    EXPECT_EQ(found(byPhone), std::vector<std::string>{"VOC00003.WAV"});
    SearchCriteria byMode = EveryDayWithNote("price");
    byMode.mode = "被叫";
    EXPECT_EQ(found(byMode), std::vector<std::string>{"VOC00007.WAV"});
    SearchCriteria byDay = EveryDayWithNote("price");
    byDay.firstDay = byDay.lastDay = QDate(2014, 3, 9);
    EXPECT_EQ(found(byDay), std::vector<std::string>{"VOC00007.WAV"});
    byDay.firstDay = byDay.lastDay = QDate(2014, 3, 6);
    EXPECT_EQ(found(byDay), std::vector<std::string>{});
}

// A folder that lost a recording keeps no row of it in the cache: the note search of every
// folder then lists each noted recording once.
TEST_F(ArchiveIndexTest, NoteSearchListsEachRecordingOnceAfterItsFolderShrank)
{
    fs::remove(Folder() + "VOC00006.WAV");
    std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    for (const RecordingEntry& row : IndexedRows(*index, Folder()))
        ASSERT_TRUE(index->SetNote(IdentityOfFile(row.path()), {"price", ""}));
    fs::remove(ListRecordings(Folder()).front().path()); // the walk's first: every other row moves up
    IndexedRows(*index, Folder());
    std::vector<std::string> names;
    for (const RecordingEntry& row : SearchKnownFolders(*index, EveryDayWithNote("price")).rows)
        names.push_back(row.fileName());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << "a recording listed twice";
}

// A folder changed within a few seconds of its listing may keep its time: the note search of
// every folder walks it again instead of trusting the names stored then.
TEST_F(ArchiveIndexTest, NoteSearchWalksAFolderWhoseTimeHadNotSettled)
{
    ArchiveIndex::Opened opened = ArchiveIndex::Open(TestLocation(DatabasePath()));
    ASSERT_TRUE(opened.index);
    ArchiveIndex& index = *opened.index;
    index.SetClock([] { return NanosecondsFromNow(std::chrono::seconds(1)); });
    IndexedRows(index, Folder());
    WriteRecording(Folder() + "VOC00009.WAV", "13800000009");
    ASSERT_TRUE(index.SetNote(IdentityOfFile(Folder() + "VOC00009.WAV"), {"price", ""}));
    const std::vector<RecordingEntry> found = SearchKnownFolders(index, EveryDayWithNote("price")).rows;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].fileName(), "VOC00009.WAV");
}

// A file whose times are younger than a few seconds at a listing is read again at the next
// one even with its size and times unchanged: on a FAT card a rewrite in place within the same
// two-second step keeps both. Once its times have settled, it is not.
TEST_F(ArchiveIndexTest, YoungFilesAreReadAgainAtTheNextListing)
{
    ArchiveIndex::Opened opened = ArchiveIndex::Open(TestLocation(DatabasePath()));
    ASSERT_TRUE(opened.index);
    ArchiveIndex& index = *opened.index;
    std::atomic<std::int64_t> now = NanosecondsFromNow(std::chrono::seconds(1));
    index.SetClock([&now] { return now.load(); });
    const OpenWatch opens(Folder());
    IndexedRows(index, Folder());
    EXPECT_EQ(opens.Take().size(), 6u);
    IndexedRows(index, Folder());
    EXPECT_EQ(opens.Take().size(), 6u) << "times younger than 3 s are not trusted";

    const std::string second = Folder() + "VOC00002.WAV";
    const auto time = fs::last_write_time(second);
    WriteRecording(second, "13999999999");
    fs::last_write_time(second, time);
    EXPECT_EQ(PhoneOf(IndexedRows(index, Folder()), "VOC00002.WAV"), "13999999999");

    now = NanosecondsFromNow(std::chrono::seconds(10));
    IndexedRows(index, Folder());
    opens.Take();
    IndexedRows(index, Folder());
    EXPECT_EQ(opens.Take(), std::vector<std::string>{}) << "settled times are trusted";
}

// A random archive for the property test: a few folders (one below another) of recordings whose
// headers are partly garbage, whose names are partly lower-case, not UTF-8 or no recording's name.
class RandomArchive {
public:
    RandomArchive(std::string root, std::uint32_t seed) : root_(std::move(root)), random_(seed) {}

    // Adds, replaces (by a rename, as an upload does), removes files and renames a folder.
    void Change()
    {
        for (int i = 0; i < 12; ++i) {
            const std::string folder = root_ + folders_[Pick(folders_.size())];
            fs::create_directories(folder);
            std::vector<std::string> present;
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.is_regular_file())
                    present.push_back(entry.path().filename().string());
            const int what = Pick(4);
            if (what == 0 && !present.empty()) {
                fs::remove(folder + present[Pick(present.size())]);
            } else if (what == 1 && !present.empty()) {
                TempFolder::WriteFile(folder + ".new", FileBytes());
                fs::rename(folder + ".new", folder + present[Pick(present.size())]);
            } else {
                TempFolder::WriteFile(folder + Name(), FileBytes());
            }
        }
        if (Pick(3) == 0) { // a top folder moves, its subfolder with it
            std::string& renamed = folders_[Pick(2)];
            const std::string moved = renamed.substr(0, renamed.size() - 1) + "x/";
            if (fs::exists(root_ + renamed))
                fs::rename(root_ + renamed, root_ + moved);
            for (std::string& folder : folders_)
                if (folder.starts_with(renamed))
                    folder = moved + folder.substr(renamed.size());
        }
    }

    SearchCriteria Criteria()
    {
        SearchCriteria criteria;
        const int firstYear = 2008 + Pick(6);
        criteria.firstDay = Pick(3) == 0 ? QDate(2000, 1, 1) : QDate(firstYear, 1 + Pick(12), 1 + Pick(28));
        criteria.lastDay = Pick(3) == 0 ? QDate(2099, 12, 31) : criteria.firstDay.addDays(Pick(2000));
        criteria.mode = kModeFilterItems[Pick(std::size(kModeFilterItems))];
        const std::string phones[] = {"", "", "1", "12", "138", "0", "\xb2", "5678", "Ab"};
        criteria.phone = phones[Pick(std::size(phones))];
        const std::string descriptions[] = {"", "", "", "PRICE", "ice", "投诉"};
        criteria.description = descriptions[Pick(std::size(descriptions))];
        criteria.userType = Pick(4) == 0 ? "客户" : "";
        return criteria;
    }

    int Pick(std::size_t count) { return static_cast<int>(random_() % count); }

private:
    std::string Name()
    {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%05d", Pick(100));
        const std::string names[] = {std::string("VOC") + digits + ".WAV", std::string("voc") + digits + ".wav",
                                     std::string("VOC\xff\xfe") + (digits + 2) + ".WAV", "VOC1.WAV"};
        return names[Pick(OnPostgres() ? 2 : std::size(names))];
    }

    // The bytes of a recording: the header record at 256, mostly as the recorder writes it, now
    // and then garbage; now and then too short to hold it.
    std::string FileBytes()
    {
        if (Pick(12) == 0)
            return std::string(static_cast<std::size_t>(Pick(279)), 'x');
        std::string bytes(256 + kHeaderSize + static_cast<std::size_t>(Pick(20000)), '\0');
        const bool garbage = Pick(5) == 0;
        const char modes[] = {'Z', 'B', 'L', 'X', 'z', '\x95'};
        bytes[256] = garbage ? static_cast<char>(Pick(256)) : modes[Pick(std::size(modes))];
        for (std::size_t at = 257; at < 257 + 17 && (garbage || at < 257 + 11); ++at)
            bytes[at] = garbage ? static_cast<char>(Pick(256)) : static_cast<char>('0' + Pick(10));
        const int fields[] = {8 + Pick(6), 1 + Pick(12), 1 + Pick(28), Pick(24), Pick(60)};
        for (std::size_t i = 0; i < 5; ++i)
            bytes[274 + i] = static_cast<char>(garbage ? Pick(256) : fields[i]);
        return bytes;
    }

    std::string root_;
    std::mt19937 random_;
    std::vector<std::string> folders_{"a/", "b/", "a/in/", "b/in/deeper/"};
};

// The rows the walk of folder (with its subfolders when scope says so) keeps, each file read or
// taken from the folder cache as a listing does, with its note.
void AddWalkedRows(ArchiveIndex& index, const std::string& folder, FolderScope scope, const SearchCriteria& criteria,
                   std::vector<RecordingEntry>& rows)
{
    const SearchFilter filter(criteria);
    WalkFolderTree(&index, folder, scope, [&](const WalkEntry&, IndexedRow* row) {
        if (row && filter.Keeps(row->row, row->note)) {
            rows.push_back(row->row);
            rows.back().texts[kColNumber] = std::to_string(rows.size());
        }
        return true;
    });
}

std::vector<RecordingEntry> WalkOfKnownFolders(ArchiveIndex& index, const SearchCriteria& criteria)
{
    std::vector<RecordingEntry> rows;
    for (const std::string& folder : index.KnownFolders())
        AddWalkedRows(index, folder, FolderScope::FolderOnly, criteria, rows);
    return rows;
}

// What the statistics show, as lines, to compare two counts.
std::vector<std::string> Lines(const CallStatistics& statistics)
{
    std::vector<std::string> lines;
    const auto add = [&](const std::string& what, const ModeFigures& figures) {
        std::string line = what;
        for (const CallFigures& mode : figures.byMode)
            line += " " + std::to_string(mode.calls) + "/" + std::to_string(mode.seconds);
        lines.push_back(line);
    };
    add("all", statistics.totals);
    add("invalid", statistics.invalidTimes);
    for (const auto& [day, figures] : statistics.days)
        add(std::to_string(day), figures);
    for (const auto* top : {&statistics.mostCalls, &statistics.mostTalk})
        for (const NumberFigures& number : *top)
            add(number.number + " " + number.firstCall + " " + number.lastCall + " " + number.userType, number.figures);
    for (const auto& hours : statistics.callsByWeekdayHour)
        for (const std::uint64_t calls : hours)
            lines.push_back(std::to_string(calls));
    return lines;
}

// Random archives changed between searches: the index's answer for many folders (every known
// folder, a folder with its subfolders, pages by start time, the statistics) is the plain walk's,
// row for row, whatever the criteria.
TEST_F(ArchiveIndexTest, SearchesOfManyFoldersGiveTheWalksRowsInRandomArchives)
{
    const std::uint32_t seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::unique_ptr<ArchiveIndex> index = OpenIndex(DatabasePath());
    ASSERT_TRUE(index);
    const std::string root = archive.Path("tree/");
    RandomArchive random(root, seed);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The file system's clock moves in steps of some milliseconds: a change within the step of
        // the last search would leave its folder's time as it was.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        random.Change();
        for (int search = 0; search < 6; ++search) {
            SearchCriteria criteria = random.Criteria();
            criteria.scope = FolderScope::WithSubfolders;
            const SearchResult tree = SearchArchiveFolder(root, criteria, {}, index.get());
            std::vector<RecordingEntry> walkedTree;
            AddWalkedRows(*index, root, FolderScope::WithSubfolders, criteria, walkedTree);
            EXPECT_EQ(Texts(tree.rows), Texts(walkedTree));
            if (!SearchFilter(criteria).readsNotes()) { // the files read, not the cache
                EXPECT_EQ(Texts(walkedTree), Texts(SearchArchiveFolder(root, criteria).rows));
            }
            criteria.scope = FolderScope::FolderOnly;
            const SearchResult known = SearchKnownFolders(*index, criteria);
            const std::vector<RecordingEntry> walked = WalkOfKnownFolders(*index, criteria);
            ASSERT_EQ(Texts(known.rows), Texts(walked));

            // Pages of a random length, in the order by start time.
            std::vector<RecordingEntry> sorted = walked;
            std::stable_sort(sorted.begin(), sorted.end(), [](const RecordingEntry& a, const RecordingEntry& b) {
                return Utf8ToGb18030(a.startTime()) < Utf8ToGb18030(b.startTime());
            });
            std::vector<std::string> paged, expected;
            const std::size_t length = 8 + static_cast<std::size_t>(random.Pick(40));
            std::optional<RowKey> after;
            do {
                const SearchPage page = SearchKnownFoldersPage(*index, criteria, after, length);
                ASSERT_LE(page.rows.size(), length);
                for (const RecordingEntry& row : page.rows)
                    paged.push_back(row.path());
                after = page.rows.size() == length ? page.last : std::nullopt;
            } while (after);
            for (const RecordingEntry& row : sorted)
                expected.push_back(row.path());
            EXPECT_EQ(paged, expected);
        }
        // A note now and then; the statistics of every row, whatever its start time.
        std::vector<RecordingEntry> every;
        for (const std::string& folder : index->KnownFolders())
            WalkFolderRows(nullptr, folder, [&](const WalkEntry&, IndexedRow* row) {
                if (row)
                    every.push_back(row->row);
                return true;
            });
        if (!every.empty()) {
            const RecordingEntry& row = every[static_cast<std::size_t>(random.Pick(every.size()))];
            ASSERT_TRUE(index->SetNote(IdentityOfFile(row.path()), {random.Pick(2) ? "Price agreed" : "投诉", "客户"}));
        }
        index->FreshKnownFolders();
        const Result<CallStatistics> counted = CountIndexedCalls(*index, RowCriteria{});
        ASSERT_TRUE(counted) << counted.error().reason;
        EXPECT_EQ(Lines(*counted), Lines(CountCalls(every, UserTypesOf(*index))));
    }
}

} // namespace

#include "index/archive_index.h"
#include "index/index_schema.h"
#include "index/note_exchange.h"
#include "search/archive_search.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

IndexLocation SqliteAt(const std::string& path, int busyTimeoutMilliseconds = 5000)
{
    IndexLocation location;
    location.sqlitePath = path;
    location.busyTimeoutMilliseconds = busyTimeoutMilliseconds;
    return location;
}

// Another program's connection to the index file, made without the index's code.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(QString::fromStdString(path));
        EXPECT_TRUE(db.open());
    }
    ~OtherProgram()
    {
        QSqlDatabase::database(kName, false).close();
        QSqlDatabase::removeDatabase(kName);
    }
    void Exec(const char* statement)
    {
        QSqlQuery query(QSqlDatabase::database(kName, false));
        EXPECT_TRUE(query.exec(QString::fromLatin1(statement))) << statement;
        while (query.next()) {
        }
    }

private:
    static inline const QString kName = QStringLiteral("other program");
};

bool SameNotes(std::vector<NotedRecording> a, std::vector<NotedRecording> b)
{
    const auto byName = [](const NotedRecording& x, const NotedRecording& y) {
        return x.identity.fileName < y.identity.fileName;
    };
    std::sort(a.begin(), a.end(), byName);
    std::sort(b.begin(), b.end(), byName);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const NotedRecording& x, const NotedRecording& y) {
        return x.identity == y.identity && x.note == y.note;
    });
}

std::vector<std::string> FilesAside(const TempFolder& folder)
{
    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        if (entry.path().filename().string().find(".damaged-") != std::string::npos)
            aside.push_back(entry.path().filename().string());
    return aside;
}

} // namespace

// The file that 6.1.2 wrote is brought up to date: every note is found, the old folder cache
// is gone, and listings fill the new one.
TEST(IndexSchema, OldIndexIsMigratedWithEveryNote)
{
    const TempFolder home;
    const std::string path = home.Path("archive.db");
    fs::copy_file(SDVOICE_TEST_DATA "/archive-6.1.2.db", path);
    const Result<std::vector<NotedRecording>> expected = ReadNotesFile(SDVOICE_TEST_DATA "/notes-6.1.2.jsonl");
    ASSERT_TRUE(expected && expected->size() == 4u);

    ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(path));
    ASSERT_TRUE(opened.index) << opened.message;
    EXPECT_EQ(opened.message, "");
    const Result<std::vector<NotedRecording>> notes = opened.index->AllNotes();
    ASSERT_TRUE(notes);
    EXPECT_TRUE(SameNotes(*notes, *expected));
    for (const NotedRecording& noted : *expected)
        EXPECT_EQ(opened.index->NoteOf(noted.identity), noted.note) << noted.identity.fileName;
    EXPECT_EQ(opened.index->UserTypes(), (std::vector<std::string>{"大客户", "散客"}));
    const Result<std::vector<NotedRecording>> price = opened.index->NotesMentioning("Price");
    ASSERT_TRUE(price && price->size() == 1u);
    EXPECT_TRUE(opened.index->KnownFolders().empty()) << "the old folder cache is dropped";

    const TempFolder archive;
    ASSERT_TRUE(WriteSampleFolder(archive.Path("calls"), 3, 512));
    SearchCriteria everyDay;
    everyDay.firstDay = QDate(2000, 1, 1);
    everyDay.lastDay = QDate(2099, 12, 31);
    EXPECT_EQ(SearchArchiveFolder(archive.Path("calls/"), everyDay, {}, opened.index.get()).rows.size(), 3u);
    EXPECT_EQ(opened.index->KnownFolders(), std::vector<std::string>{archive.Path("calls/")});
    opened.index.reset();

    OtherProgram check(path);
    QSqlQuery version(QSqlDatabase::database(QStringLiteral("other program")));
    ASSERT_TRUE(version.exec(QStringLiteral("SELECT version FROM schema_version")) && version.next());
    EXPECT_EQ(version.value(0).toInt(), kIndexSchemaVersion);
    EXPECT_FALSE(version.exec(QStringLiteral("SELECT 1 FROM noted_places"))) << "the old tables are gone";
}

// An index of version 2 (its files without their decoded fields) is brought up to date with its
// notes and its known folders: the next search of every known folder reads a folder again, even
// one unchanged since its last listing, and finds its recordings with their notes.
TEST(IndexSchema, IndexOfVersion2KeepsItsFoldersAndNotes)
{
    const TempFolder home;
    const std::string path = home.Path("archive.db");
    const TempFolder archive;
    ASSERT_TRUE(WriteSampleFolder(archive.Path("calls"), 3, 512));
    const std::string folder = archive.Path("calls/");
    const std::optional<RecordingHead> head = ReadRecordingHead(folder + "VOC00002.WAV");
    ASSERT_TRUE(head);
    struct stat status {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    const long long folderTime = status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec;
    std::string record;
    for (const unsigned char byte : head->record) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        record += hex;
    }
    {
        OtherProgram old(path);
        old.Exec(
            "CREATE TABLE notes (id INTEGER PRIMARY KEY, name TEXT NOT NULL, size BIGINT NOT NULL, record BLOB "
            "NOT NULL, description TEXT NOT NULL, user_type TEXT NOT NULL, UNIQUE (name, size, record))");
        old.Exec("CREATE TABLE folders (folder TEXT PRIMARY KEY, folder_time BIGINT NOT NULL)");
        old.Exec(
            "CREATE TABLE files (folder TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL, size BIGINT "
            "NOT NULL, modified BIGINT NOT NULL, changed BIGINT NOT NULL, record BLOB, PRIMARY KEY (folder, "
            "position)) WITHOUT ROWID");
        old.Exec("CREATE TABLE schema_version (version INTEGER NOT NULL)");
        old.Exec("INSERT INTO schema_version VALUES (2)");
        old.Exec(("INSERT INTO folders VALUES ('" + folder + "', " + std::to_string(folderTime) + ")").c_str());
        old.Exec(("INSERT INTO notes (name, size, record, description, user_type) VALUES ('VOC00002.WAV', "
                  + std::to_string(head->size) + ", X'" + record + "', 'price agreed', 'vip')")
                     .c_str());
    }
    ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(path));
    ASSERT_TRUE(opened.index) << opened.message;
    EXPECT_EQ(opened.message, "");
    opened.index->SetClock([] {
        const auto later = std::chrono::system_clock::now() + std::chrono::hours(1);
        return std::chrono::duration_cast<std::chrono::nanoseconds>(later.time_since_epoch()).count();
    });
    EXPECT_EQ(opened.index->KnownFolders(), std::vector<std::string>{folder});
    SearchCriteria everyDay;
    everyDay.firstDay = QDate(2000, 1, 1);
    everyDay.lastDay = QDate(2099, 12, 31);
    const SearchResult found = SearchKnownFolders(*opened.index, everyDay);
    EXPECT_EQ(found.rows.size(), 3u);
    EXPECT_EQ(found.notes.at(folder + "VOC00002.WAV"), (RecordingNote{"price agreed", "vip"}));
}

// An index of a newer version is left byte for byte as it is, and the message says why.
TEST(IndexSchema, NewerIndexIsLeftUntouched)
{
    const TempFolder home;
    const std::string path = home.Path("archive.db");
    {
        ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(path));
        ASSERT_TRUE(opened.index);
        ASSERT_TRUE(opened.index->SetNote({"VOC00001.WAV", 9, std::string(kHeaderSize, 'a')}, {"kept", ""}));
    }
    {
        OtherProgram newer(path);
        newer.Exec("UPDATE schema_version SET version = 99");
        newer.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const std::string before = TempFolder::Read(path);
    ArchiveIndex::Opened opened = ArchiveIndex::Open(SqliteAt(path));
    EXPECT_FALSE(opened.index);
    EXPECT_NE(opened.message.find("较新版本"), std::string::npos) << opened.message;
    EXPECT_NE(opened.message.find("录音列表照常显示"), std::string::npos) << opened.message;
    EXPECT_EQ(TempFolder::Read(path), before);
    EXPECT_TRUE(FilesAside(home).empty());
}

// An index another program holds locked is neither set aside nor replaced: opening it or
// writing a note fails with a message naming the other program, and the notes are there
// once it lets go.
TEST(IndexSchema, IndexHeldByAnotherProgramKeepsItsNotes)
{
    const TempFolder home;
    const std::string path = home.Path("archive.db");
    const RecordingIdentity identity{"VOC00001.WAV", 9, std::string(kHeaderSize, 'a')};
    ArchiveIndex::Opened writer = ArchiveIndex::Open(SqliteAt(path, 200));
    ASSERT_TRUE(writer.index);
    ASSERT_TRUE(writer.index->SetNote(identity, {"kept", ""}));
    {
        OtherProgram holder(path);
        holder.Exec("BEGIN IMMEDIATE");
        const Result<void> saved = writer.index->SetNote(identity, {"second", ""});
        ASSERT_FALSE(saved);
        EXPECT_NE(saved.error().reason.find("另一个程序正占用归档索引"), std::string::npos) << saved.error().reason;
        holder.Exec("ROLLBACK");
        writer.index.reset();

        holder.Exec("PRAGMA locking_mode=EXCLUSIVE");
        holder.Exec("BEGIN EXCLUSIVE");
        holder.Exec("DELETE FROM folders");
        const ArchiveIndex::Opened locked = ArchiveIndex::Open(SqliteAt(path, 200));
        EXPECT_FALSE(locked.index);
        EXPECT_NE(locked.message.find("另一个程序正占用归档索引"), std::string::npos) << locked.message;
        EXPECT_TRUE(FilesAside(home).empty()) << "a locked index is not damaged";
        holder.Exec("COMMIT");
    }
    const ArchiveIndex::Opened reopened = ArchiveIndex::Open(SqliteAt(path));
    ASSERT_TRUE(reopened.index) << reopened.message;
    EXPECT_EQ(reopened.index->NoteOf(identity).description, "kept");
}

// A notes file is taken whole or not at all: a folder, a missing file, or one line whose name,
// size or record is not what an export writes refuses every note of it.
TEST(IndexSchema, ImportRefusesFilesThatAreNotNotes)
{
    const TempFolder home;
    EXPECT_FALSE(ReadNotesFile(home.path()));
    EXPECT_FALSE(ReadNotesFile(home.Path("missing.jsonl")));
    const std::string record = "5a31333830303133383030300000000000001701020800";
    const auto line = [&](const std::string& name, const std::string& size, const std::string& hex) {
        return "{\"name\":\"" + name + "\",\"size\":" + size + ",\"record\":\"" + hex
               + "\",\"description\":\"d\",\"user_type\":\"\"}\n";
    };
    const std::string good = line("VOC00001.WAV", "14300", record);
    const Result<std::vector<NotedRecording>> read = ReadNotesFile(home.Write("good.jsonl", good + "\n" + good));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 2u);
    EXPECT_EQ(read->front().identity.size, 14300u);
    for (const std::string& bad :
         {line("VOC00001.WAV", "1.5", record), line("VOC00001.WAV", "-1", record), line("VOC00001.WAV", "\"7\"", record),
          line("VOC00001.WAV", "1e300", record), line("VOC00001.WAV", "14300", record.substr(2)),
          line("VOC00001.WAV", "14300", record + "00"), line("VOC00001.WAV", "14300", "zz" + record.substr(2)),
          line("calls/VOC00001.WAV", "14300", record), line("..", "14300", record), line("", "14300", record)}) {
        const Result<std::vector<NotedRecording>> refused = ReadNotesFile(home.Write("bad.jsonl", good + bad));
        ASSERT_FALSE(refused) << bad;
        EXPECT_NE(refused.error().reason.find("line 2"), std::string::npos) << refused.error().reason;
    }
}

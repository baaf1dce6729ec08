#include "support/audio_files.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <filesystem>

// The note, listing, several-writers and random archive tests of the archive index, run against a real PostgreSQL server: a
// throw-away cluster that Debian's pg_virtualenv makes, with the index tests inside it.
TEST(ArchiveIndexPostgres, NoteAndListingTestsPassOnAServer)
{
    if (!HaveProgram("pg_virtualenv"))
        GTEST_SKIP() << "PostgreSQL is not installed (no pg_virtualenv on the PATH; Debian: apt-get install "
                        "postgresql); the archive index was not tested against a server";
    const std::filesystem::path indexTests =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "index_test_archive_index";
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SDVOICE_TEST_POSTGRES"), QStringLiteral("1"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("pg_virtualenv"),
              {QString::fromStdString(indexTests.string()),
               QStringLiteral("--gtest_filter=*ListingFollowsTheFiles*:*NoteFollowsTheRecording*:*SeveralWriters*:*InRandomArchives*")});
    ASSERT_TRUE(run.waitForFinished(240000)) << "pg_virtualenv did not finish";
    const QString output = QString::fromUtf8(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 4 tests"))) << output.toStdString();
}

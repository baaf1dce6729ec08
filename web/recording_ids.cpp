#include "web/recording_ids.h"

#include "index/archive_index.h"
#include "platform/qt_text.h"

#include <QCryptographicHash>
#include <filesystem>

namespace {

constexpr qsizetype kKeyLength = 16;

} // namespace

QString FolderKey(const std::string& folder)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(8).toHex());
}

QString RecordingId(const std::string& folder, const std::string& fileName)
{
    return FolderKey(folder) + QLatin1Char('-') + QString::fromLatin1(QByteArray::fromStdString(fileName).toHex());
}

std::optional<RecordingIdParts> SplitRecordingId(const QString& id)
{
    if (id.size() <= kKeyLength + 1 || id.at(kKeyLength) != QLatin1Char('-'))
        return std::nullopt;
    const QByteArray hexName = id.mid(kKeyLength + 1).toLatin1();
    const QByteArray name = QByteArray::fromHex(hexName);
    if (name.toHex() != hexName) // fromHex passes over what is no hexadecimal digit
        return std::nullopt;
    return RecordingIdParts{id.left(kKeyLength), name.toStdString()};
}

std::vector<std::string> KnownArchiveFolders(const IndexLocation& location)
{
    Result<std::unique_ptr<ArchiveIndex>> index = ArchiveIndex::Connect(location);
    return index ? (*index)->KnownFolders() : std::vector<std::string>();
}

QString LoggedRecordingText(const QString& recording, const std::vector<std::string>& knownFolders)
{
    const std::optional<RecordingIdParts> parts = SplitRecordingId(recording);
    if (!parts)
        return recording;
    QString folderName = QStringLiteral("？");
    for (const std::string& folder : knownFolders) {
        if (FolderKey(folder) == parts->folderKey) {
            folderName = ToQString(std::filesystem::path(folder).parent_path().filename().string());
            break;
        }
    }
    return folderName + QLatin1Char('/') + ToQString(parts->fileName);
}

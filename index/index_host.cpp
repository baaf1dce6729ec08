#include "index/index_host.h"

IndexHost::IndexHost(IndexLocation location, QObject* parent)
    : QObject(parent), thread_(QStringLiteral("archive index")), location_(std::move(location))
{
    Post([this] {
        ArchiveIndex::Opened opened = ArchiveIndex::Open(location_);
        index_ = std::move(opened.index);
        QMetaObject::invokeMethod(
            this,
            [this, usable = index_ != nullptr, message = QString::fromStdString(opened.message)] {
                Opened(usable, message);
            },
            Qt::QueuedConnection);
    });
}

IndexHost::~IndexHost()
{
    thread_.End([this] { index_.reset(); });
}

void IndexHost::Post(std::function<void()> work)
{
    thread_.Post(std::move(work));
}

void IndexHost::Opened(bool usable, const QString& message)
{
    state_ = usable ? State::Ready : State::Failed;
    message_ = message;
    if (usable)
        emit ready();
    else
        emit failed(message);
}

std::optional<IndexLocation> IndexHost::WorkerLocation() const
{
    return state_ == State::Ready ? std::optional(location_) : std::nullopt;
}

QString IndexHost::TakeMessage()
{
    return std::exchange(message_, QString());
}

void IndexHost::KnowFolders(std::set<std::string> folders)
{
    Post([this, folders = std::move(folders)] {
        if (!index_)
            return;
        for (const std::string& folder : folders)
            static_cast<void>(index_->KnowFolder(folder + "/"));
    });
}

#pragma once

#include "index/archive_index.h"
#include "index/index_settings.h"
#include "platform/worker_thread.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

// The archive index of the program, with one owner: the index is opened once, on a thread of
// its own (connecting, making or updating its tables, setting a damaged file aside), and
// ready() or failed() says how that went, once. The windows never touch the database: they
// send their requests here, which run one after another on the index's thread, after the
// opening, and get the results back on their own thread. Workers get the index's location
// once it is ready and keep connections of their own (ArchiveIndex::Connect), which never
// change the tables nor set a file aside.
class IndexHost : public QObject {
    Q_OBJECT

public:
    enum class State { Opening, Ready, Failed };

    explicit IndexHost(IndexLocation location, QObject* parent = nullptr);
    // Waits for the requests sent before (at most a connection's timeout while the index opens).
    ~IndexHost() override;

    State state() const { return state_; }
    // Where workers connect; nothing until the index is ready.
    std::optional<IndexLocation> WorkerLocation() const;
    // What the opening has to tell the user (a damaged file set aside, an index that cannot be
    // used), handed out once: empty afterwards, while the index opens, or when all went well.
    QString TakeMessage();

    // Runs work with the index (null when it could not be opened) on the index's thread, then
    // done with its result on the thread of receiver, unless receiver is gone by then.
    template <typename Value>
    void Request(QObject* receiver, std::function<Value(ArchiveIndex*)> work, std::function<void(Value)> done)
    {
        Post([this, guard = QPointer<QObject>(receiver), work = std::move(work), done = std::move(done)] {
            auto value = std::make_shared<Value>(work(index_.get()));
            QMetaObject::invokeMethod(
                this,
                [guard, done, value] {
                    if (guard)
                        done(std::move(*value));
                },
                Qt::QueuedConnection);
        });
    }

    // Hands the folders the index knows (none when it could not be opened) to done on the thread of
    // receiver, unless receiver is gone by then.
    void AskKnownFolders(QObject* receiver, std::function<void(std::vector<std::string>)> done)
    {
        Request<std::vector<std::string>>(
            receiver, [](ArchiveIndex* index) { return index ? index->KnownFolders() : std::vector<std::string>(); },
            std::move(done));
    }

    // Makes the folders (each without "/" at the end) known to the index, after the requests
    // before; nothing when the index could not be opened or cannot write.
    void KnowFolders(std::set<std::string> folders);

signals:
    void ready();
    void failed(const QString& message);

private:
    void Post(std::function<void()> work);
    void Opened(bool usable, const QString& message);

    WorkerThread thread_;                 // runs the requests
    std::unique_ptr<ArchiveIndex> index_; // opened, used and closed on thread_
    const IndexLocation location_;
    State state_ = State::Opening; // the rest: on the owner's thread
    QString message_;
};

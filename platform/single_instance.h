// One running copy per user: the first copy holds a local socket named after the
// lock; a later copy finds it, asks it to come to the front and ends.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace velkor {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // lockName is made per user (the user ID is appended).
    explicit SingleInstance(const QString& lockName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this is the first copy and now holds the lock. False: another copy
    // holds it and has been asked to bring its window to the front.
    bool acquire();

    // Runs in the first copy when a later copy asks for the front.
    void setFrontRequestHandler(std::function<void()> handler) { onFront_ = std::move(handler); }

    QString serverName() const { return name_; }

private:
    QString name_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> onFront_;
};

} // namespace velkor

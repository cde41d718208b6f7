#pragma once

#include <QObject>
#include <QString>

#include <functional>

// One Glanto per session. The first process owns the name app.glanto.Glanto on
// the session bus and serves Open(path) and Present(path, activationToken)
// there; a later `glanto PATH` hands its path, with the token its launcher gave
// it, to it and ends. Without a session bus every process runs on its own.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        primary,    // this process owns the name and receives open requests
        handedOver, // a running instance took the request: this process should end
        standalone, // no bus, or the running instance did not answer: run alone
    };

    static constexpr const char *serviceName = "app.glanto.Glanto";
    static constexpr const char *objectPath = "/app/glanto/Glanto";
    static constexpr const char *interfaceName = "app.glanto.Glanto";

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Tries to become the one instance; when another one runs, hands it path
    // (made absolute here, since the running instance has another working
    // directory; empty = just bring its window forward).
    Role claimOrHandOver(const QString &path);

    // Gives the name up: a process that is quitting, and may still be finishing
    // a file in the background, leaves the next launch to run on its own.
    void release();

    // Called on the main thread for each request the running instance receives;
    // the path is absolute, or empty for "bring the window forward".
    std::function<void(const QString &path)> onOpen;

private:
    bool registered = false;
};

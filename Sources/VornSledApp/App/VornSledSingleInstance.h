#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <vector>

class QLocalServer;
class QLocalSocket;

// One program per user: the first launch listens on a local socket in $XDG_RUNTIME_DIR; a later
// launch hands its files to it and ends. The socket is only reachable by its user.
class VornSledSingleInstance : public QObject {
public:
    using OnOpen = std::function<void(const std::vector<std::filesystem::path>&)>;

    // `socketPath` empty: the per-user default.
    explicit VornSledSingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~VornSledSingleInstance() override;

    static QString defaultSocketPath();
    QString socketPath() const { return socketPath_; }

    // When another launch is listening: sends it `files` (absolute paths) and returns true once it
    // has taken them. False when there is none to forward to.
    bool forwardToRunning(const std::vector<std::filesystem::path>& files);
    // Becomes the listening launch; `onOpen` runs on the GUI thread for each later launch (with an
    // empty list when that launch had no files, so the window can be fronted all the same).
    // False when the socket could not be made.
    bool listen(OnOpen onOpen);

    // Limits on what a forwarding launch may send.
    static constexpr qsizetype maximumMessageBytes = 4 * 1024 * 1024;
    static constexpr std::size_t maximumFiles = 10'000;

private:
    void accept();
    void readFrom(QLocalSocket* socket);

    QString socketPath_;
    QLocalServer* server_ = nullptr;
    OnOpen onOpen_;
};

// The absolute paths of the files named on the command line (`arguments` without the program),
// resolved against `workingFolder`, their bytes kept as given.
std::vector<std::filesystem::path> vornSledFileArguments(int argc, char** argv,
                                                          const std::filesystem::path& workingFolder);

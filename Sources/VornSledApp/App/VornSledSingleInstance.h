#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QLocalServer;
class QLocalSocket;

// One program per user: the first launch listens on a local socket in a folder only its user can
// enter; a later launch hands its files to it and ends. Both ends check that the other runs as
// the same user before they trust it, so files are never handed to, or taken from, anyone else.
class VornSledSingleInstance : public QObject {
public:
    using OnOpen = std::function<void(const std::vector<std::filesystem::path>&)>;

    // `socketPath` empty: the per-user default.
    explicit VornSledSingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~VornSledSingleInstance() override;

    // The socket in $XDG_RUNTIME_DIR when that is a private folder of this user; else in
    // privateRuntimeFolder(). Empty when neither can be had: the program then runs without a
    // single instance (and says so in its log).
    static QString defaultSocketPath();
    // "com.vornworks.vornsled-<uid>" in $TMPDIR (else /tmp), made when missing; the folder only
    // when it is a folder (not a link) that belongs to this user and only this user can enter.
    static std::optional<std::filesystem::path> privateRuntimeFolder();
    // Whether `folder` is a folder, not a link, of this user with mode 0700.
    static bool isPrivateFolder(const std::filesystem::path& folder);
    QString socketPath() const { return socketPath_; }

    // When another launch of this user is listening: sends it `files` (absolute paths) and
    // returns true once it has taken them. False when there is none to forward to, or when what
    // listens runs as another user (it is told nothing).
    bool forwardToRunning(const std::vector<std::filesystem::path>& files);
    // Becomes the listening launch; `onOpen` runs on the GUI thread for each later launch of this
    // user (with an empty list when that launch had no files, so the window can be fronted all
    // the same); a connection from another user is closed unread. False, and the reason in the
    // log, when the socket could not be made: the program then runs without a single instance.
    bool listen(OnOpen onOpen);

    // Limits on what a forwarding launch may send.
    static constexpr qsizetype maximumMessageBytes = 4 * 1024 * 1024;
    static constexpr std::size_t maximumFiles = 10'000;

private:
    void accept();
    void readFrom(QLocalSocket* socket);

    QString socketPath_;
    // A launch of another user answered on the socket: it is neither used nor replaced.
    bool socketHeldByOtherUser_ = false;
    QLocalServer* server_ = nullptr;
    OnOpen onOpen_;
};

// The absolute paths of the files named on the command line (`arguments` without the program),
// resolved against `workingFolder`, their bytes kept as given.
std::vector<std::filesystem::path> vornSledFileArguments(int argc, char** argv,
                                                          const std::filesystem::path& workingFolder);

#include "VornSledSingleInstance.h"

#include "VornAppLogger.h"

#include <QByteArray>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A message is one line per file, "open " and the path's bytes in base64, then "end"; the
// listening launch answers "ok" once it has the files.
constexpr char openPrefix[] = "open ";
constexpr char endLine[] = "end";
constexpr int forwardWaitMilliseconds = 10'000;
constexpr char socketName[] = "com.vornworks.vornsled.socket";

void logWarning(const std::string& message) {
    VornAppLogger::shared("VornSled")->warn(message, "lifecycle");
}

// Whether the process at the other end of a connected local socket runs as this user (as the
// kernel recorded it when that end connected or listened).
bool peerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return descriptor >= 0 &&
           ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == ::geteuid();
}

// Whether `path` is a socket of this user: only such a one is replaced as stale.
bool isOwnSocket(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode) &&
           info.st_uid == ::geteuid();
}

}  // namespace

VornSledSingleInstance::VornSledSingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)) {}

VornSledSingleInstance::~VornSledSingleInstance() = default;

bool VornSledSingleInstance::isPrivateFolder(const fs::path& folder) {
    // Opened without following a link, then checked through the descriptor: what is checked is
    // what was opened.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const bool owned = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
                       (info.st_mode & 07777) == 0700;
    ::close(fd);
    return owned;
}

std::optional<fs::path> VornSledSingleInstance::privateRuntimeFolder() {
    const char* base = std::getenv("TMPDIR");
    const fs::path folder = fs::path(base != nullptr && *base == '/' ? base : "/tmp") /
                            ("com.vornworks.vornsled-" + std::to_string(::geteuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        logWarning("Running without a single instance: the folder " + folder.string() + " cannot be made (" +
                   std::strerror(errno) + ").");
        return std::nullopt;
    }
    // One left by someone else, a link, or opened to others is never used: a later launch would
    // hand its files to whoever listens there.
    if (!isPrivateFolder(folder)) {
        logWarning("Running without a single instance: " + folder.string() +
                   " is not a folder of this user that only this user can enter.");
        return std::nullopt;
    }
    return folder;
}

QString VornSledSingleInstance::defaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::optional<fs::path> folder;
    if (runtime != nullptr && *runtime == '/' && isPrivateFolder(runtime)) {
        folder = fs::path(runtime);
    } else {
        folder = privateRuntimeFolder();
    }
    if (!folder) {
        return {};
    }
    const std::string path = (*folder / socketName).native();
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

bool VornSledSingleInstance::forwardToRunning(const std::vector<std::filesystem::path>& files) {
    if (socketPath_.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(forwardWaitMilliseconds)) {
        return false;
    }
    if (!peerIsThisUser(socket.socketDescriptor())) {
        socket.abort();
        socketHeldByOtherUser_ = true;
        logWarning("Another user's program listens on " + socketPath_.toStdString() + "; no files were handed to it.");
        return false;
    }
    QByteArray message;
    for (const std::filesystem::path& file : files) {
        const std::string& bytes = file.native();
        message += openPrefix;
        message += QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
        message += '\n';
    }
    message += endLine;
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(forwardWaitMilliseconds)) {
        return false;
    }
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(forwardWaitMilliseconds)) {
            return false;
        }
        answer += socket.readAll();
    }
    return answer.startsWith("ok");
}

bool VornSledSingleInstance::listen(OnOpen onOpen) {
    onOpen_ = std::move(onOpen);
    if (socketPath_.isEmpty()) {
        return false;  // the reason is in the log already
    }
    if (socketHeldByOtherUser_) {
        logWarning("Running without a single instance: " + socketPath_.toStdString() + " belongs to another user.");
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &VornSledSingleInstance::accept);
    if (server_->listen(socketPath_)) {
        return true;
    }
    // Nobody answered on the socket (forwardToRunning failed first), so a socket of this user
    // there is a stale one left by a launch that ended without cleaning up.
    if (isOwnSocket(socketPath_)) {
        QLocalServer::removeServer(socketPath_);
        if (server_->listen(socketPath_)) {
            return true;
        }
    }
    logWarning("Running without a single instance: cannot listen on " + socketPath_.toStdString() + " (" +
               server_->errorString().toStdString() + ").");
    return false;
}

void VornSledSingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor())) {
            logWarning("A program of another user reached " + socketPath_.toStdString() + "; it was not listened to.");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void VornSledSingleInstance::readFrom(QLocalSocket* socket) {
    QByteArray buffer = socket->property("vornBuffer").toByteArray() + socket->readAll();
    if (buffer.size() > maximumMessageBytes) {
        socket->abort();
        return;
    }
    const QByteArray terminator = QByteArray("\n") + endLine + "\n";
    if (!(buffer.startsWith(QByteArray(endLine) + "\n") || buffer.contains(terminator))) {
        socket->setProperty("vornBuffer", buffer);
        return;
    }
    socket->setProperty("vornBuffer", QByteArray());
    std::vector<std::filesystem::path> files;
    for (const QByteArray& line : buffer.split('\n')) {
        if (line == endLine) {
            break;
        }
        if (!line.startsWith(openPrefix) || files.size() >= maximumFiles) {
            continue;
        }
        const QByteArray bytes = QByteArray::fromBase64(line.mid(static_cast<qsizetype>(sizeof(openPrefix) - 1)));
        std::filesystem::path path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        if (!bytes.isEmpty() && path.is_absolute()) {
            files.push_back(std::move(path));
        }
    }
    socket->write("ok\n");
    socket->flush();
    if (onOpen_) {
        onOpen_(files);
    }
}

std::vector<std::filesystem::path> vornSledFileArguments(int argc, char** argv,
                                                          const std::filesystem::path& workingFolder) {
    std::vector<std::filesystem::path> files;
    bool optionsEnded = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        // Qt's own options (-platform, -style ...) and ours are not files.
        if (!optionsEnded && argument.starts_with('-')) {
            continue;
        }
        if (argument.empty()) {
            continue;
        }
        std::filesystem::path path(argument);
        files.push_back((path.is_absolute() ? path : workingFolder / path).lexically_normal());
    }
    return files;
}

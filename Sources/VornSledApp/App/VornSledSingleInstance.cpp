#include "VornSledSingleInstance.h"

#include <QByteArray>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cstdlib>

namespace {

// A message is one line per file, "open " and the path's bytes in base64, then "end"; the
// listening launch answers "ok" once it has the files.
constexpr char openPrefix[] = "open ";
constexpr char endLine[] = "end";
constexpr int forwardWaitMilliseconds = 10'000;

}  // namespace

VornSledSingleInstance::VornSledSingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)) {}

VornSledSingleInstance::~VornSledSingleInstance() = default;

QString VornSledSingleInstance::defaultSocketPath() {
    QString folder = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    return QDir(folder).filePath(QStringLiteral("com.vornworks.vornsled.socket"));
}

bool VornSledSingleInstance::forwardToRunning(const std::vector<std::filesystem::path>& files) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(forwardWaitMilliseconds)) {
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
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &VornSledSingleInstance::accept);
    if (server_->listen(socketPath_)) {
        return true;
    }
    // Nobody answered on the socket (forwardToRunning failed first), so it is a stale one left by
    // a launch that ended without cleaning up.
    QLocalServer::removeServer(socketPath_);
    return server_->listen(socketPath_);
}

void VornSledSingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
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

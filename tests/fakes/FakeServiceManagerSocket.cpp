#include "FakeServiceManagerSocket.h"

#include <QFile>

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

TFakeServiceManagerSocket::TFakeServiceManagerSocket(const QString& path) : FPath(path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(name.size()) >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long");
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    auto length = static_cast<socklen_t>(sizeof address);
    if (name.startsWith('@')) {
        address.sun_path[0] = '\0'; // abstract: the name is all of the address, without a terminator
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<size_t>(name.size()));
    }
    FSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (FSocket < 0 || ::setsockopt(FSocket, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        ::bind(FSocket, reinterpret_cast<const sockaddr*>(&address), length) != 0)
        throw std::runtime_error("cannot bind the notification socket");
}

TFakeServiceManagerSocket::~TFakeServiceManagerSocket()
{
    if (FSocket >= 0)
        ::close(FSocket);
    if (!FPath.startsWith(QLatin1Char('@')))
        QFile::remove(FPath);
}

std::optional<TFakeServiceManagerSocket::TMessage> TFakeServiceManagerSocket::Receive(int timeoutMs) const
{
    pollfd ready{FSocket, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0)
        return std::nullopt;
    char text[4096];
    iovec part{text, sizeof text};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = ::recvmsg(FSocket, &message, MSG_DONTWAIT);
    if (size < 0)
        return std::nullopt;
    TMessage received{QByteArray(text, static_cast<qsizetype>(size)), 0};
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            received.Sender = credentials.pid;
        }
    }
    return received;
}

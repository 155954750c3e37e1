#include "HandshakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A client that neither sends nor leaves within this long has failed the test anyway.
constexpr int kPatienceMs = 30000;

// Reads exactly size bytes; false when the connection ends first.
bool readExactly(int fd, char* buffer, qsizetype size)
{
    while (size > 0) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kPatienceMs) <= 0)
            return false;
        const ssize_t n = ::recv(fd, buffer, size_t(size), 0);
        if (n <= 0)
            return false;
        buffer += n;
        size -= n;
    }
    return true;
}

void put16(QByteArray& out, unsigned value)
{
    out.append(char(value & 0xff)).append(char(value >> 8 & 0xff));
}

// A protocol-10 greeting of a MariaDB 10.11 server offering native password logins.
QByteArray mysqlGreeting(bool offersTls)
{
    constexpr unsigned kCapabilities =
        0x1 | 0x2 | 0x4 | 0x8 | 0x200 | 0x2000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x80000 | 0x100000 | 0x200000;
    const unsigned capabilities = kCapabilities | (offersTls ? 0x800 : 0);
    QByteArray payload("\x0a"
                       "5.5.5-10.11.0-MariaDB",
                       22);
    payload.append('\0').append("\x07\0\0\0", 4).append("abcdefgh").append('\0');
    put16(payload, capabilities & 0xffff);
    payload.append('\x21');
    put16(payload, 2);
    put16(payload, capabilities >> 16);
    payload.append(char(21)).append(QByteArray(10, '\0'));
    payload.append("ijklmnopqrst").append('\0').append("mysql_native_password").append('\0');
    QByteArray packet;
    packet.append(char(payload.size() & 0xff)).append(char(payload.size() >> 8 & 0xff)).append('\0').append('\0');
    return packet + payload;
}

} // namespace

HandshakeServer::HandshakeServer(Protocol protocol, bool offersTls) : m_protocol(protocol), m_offersTls(offersTls)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 1) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&HandshakeServer::serve, this);
}

HandshakeServer::~HandshakeServer()
{
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

QByteArray HandshakeServer::firstPacket()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_firstPacket;
}

void HandshakeServer::serve()
{
    pollfd waiting{m_listener, POLLIN, 0};
    if (::poll(&waiting, 1, kPatienceMs) <= 0)
        return;
    const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    if (m_protocol == Protocol::MySQL) {
        const QByteArray greeting = mysqlGreeting(m_offersTls);
        ::send(client, greeting.constData(), size_t(greeting.size()), MSG_NOSIGNAL);
        char header[4];
        if (readExactly(client, header, 4)) {
            const qsizetype size = uchar(header[0]) | uchar(header[1]) << 8 | uchar(header[2]) << 16;
            QByteArray payload(size, '\0');
            if (readExactly(client, payload.data(), size))
                m_firstPacket = QByteArray(header, 4) + payload;
        }
    } else {
        for (;;) {
            char length[4];
            if (!readExactly(client, length, 4))
                break;
            const qsizetype size =
                uchar(length[0]) << 24 | uchar(length[1]) << 16 | uchar(length[2]) << 8 | uchar(length[3]);
            QByteArray body(qMax<qsizetype>(size - 4, 0), '\0');
            if (!readExactly(client, body.data(), body.size()))
                break;
            // SSLRequest and GSSENCRequest: a length of 8 and the codes 80877103, 80877104.
            if (size == 8 && (body == QByteArray("\x04\xd2\x16\x2f", 4) || body == QByteArray("\x04\xd2\x16\x30", 4))) {
                ::send(client, "N", 1, MSG_NOSIGNAL);
                continue;
            }
            m_firstPacket = QByteArray(length, 4) + body;
            break;
        }
    }
    ::close(client);
}

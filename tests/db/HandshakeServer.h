#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <thread>

// A server on a free port of 127.0.0.1 that plays the opening of a database protocol for
// one connection and records what the client sends, to show what a client lets out
// before its connection is encrypted. MySQL: it sends a greeting, with or without the TLS
// capability, and takes the client's first packet. PostgreSQL: it answers the requests
// for TLS or Kerberos encryption with "N" (not supported) and takes the first packet that
// is neither. Then it closes the connection.
class HandshakeServer final
{
    Q_DISABLE_COPY_MOVE(HandshakeServer)

public:
    enum class Protocol { MySQL, PostgreSQL };

    HandshakeServer(Protocol protocol, bool offersTls);
    ~HandshakeServer();

    quint16 port() const { return m_port; }
    // Waits for the connection to end; what the client sent beyond the negotiation of
    // encryption: the first packet, or nothing when it left without one.
    QByteArray firstPacket();

private:
    void serve();

    const Protocol m_protocol;
    const bool m_offersTls;
    int m_listener = -1;
    quint16 m_port = 0;
    QByteArray m_firstPacket;
    std::thread m_thread;
};

#pragma once

class QNetworkReply;

// The two clocks every request to the server runs under: an idle limit that restarts
// whenever bytes move in either direction, and a limit on the whole transfer. Past either,
// the reply is aborted and timedOut() tells it from any other abort.
namespace RequestTimeouts {

void arm(QNetworkReply* reply, int idleMs, int totalMs);
bool timedOut(const QNetworkReply* reply);

} // namespace RequestTimeouts

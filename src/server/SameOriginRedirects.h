#pragma once

#include <QString>

class QNetworkReply;
class QNetworkRequest;
class QUrl;

// Redirects that stay with the server the user chose. A reply only follows a redirect
// whose target has the same scheme, host and port as the address first asked for;
// anything else is stopped before a byte, or the API key, is sent to the new address.
namespace SameOriginRedirects {

// True when both addresses have the same scheme, host and port (default ports filled in).
bool isSameOrigin(const QUrl& a, const QUrl& b);

// Lets the request's redirects be judged by guard(); call before sending.
void prepare(QNetworkRequest& request);

// Follows the reply's same-origin redirects and aborts it at the first other one.
void guard(QNetworkReply* reply);

// True when guard() aborted the reply because of a redirect to another address.
bool wasRefused(const QNetworkReply* reply);

// "The server redirected to another address; the request was not sent there."
QString refusedText();

} // namespace SameOriginRedirects

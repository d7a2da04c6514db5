#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <utility>

namespace platform {

// One HTTP request as a service asks for it.
struct HttpRequest {
    QByteArray method;
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// What came back: the server's status, its text and the body, or why nothing came.
struct HttpReply {
    int status = 0;  // 0 when no answer came
    QString reason;  // the text after the status, as the server sent it
    QByteArray body;
    QByteArray etag; // the ETag header, quotes included
    QString failure; // why no answer came, in Japanese; empty when one did
};

// HTTP through Qt Network, asynchronous: a request that makes no progress for 30 seconds ends,
// and a certificate that cannot be trusted ends the request: TLS errors are never ignored.
// A request also ends after 2 minutes in all (a server may send a byte now and then for ever)
// and when its reply grows past 32 MB. A redirect is followed only to the same scheme, server
// and port: the request carries the password, and a server may point anywhere.
class Http : public QObject {
    Q_OBJECT
public:
    explicit Http(QObject* parent = nullptr);

    // done runs once, later, from the event loop, unless abortAll() comes first.
    void send(const HttpRequest& request, std::function<void(const HttpReply&)> done);
    // Ends every request in flight without running their done.
    void abortAll();

    static constexpr int kTimeoutMs = 30000;
    static constexpr int kDeadlineMs = 2 * 60 * 1000;
    static constexpr qint64 kMaxReplyBytes = 32 * 1024 * 1024;
    static constexpr int kMaxRedirects = 5;
    // Tests wait less and take less; the program always uses the above.
    static void setLimitsForTests(int deadlineMs, qint64 maxReplyBytes);

private:
    void attempt(const HttpRequest& request, const QUrl& url, int redirects,
                 std::function<void(const HttpReply&)> done);

    QNetworkAccessManager m_manager;
};

// Whether two URLs share scheme, server and port, the default port of the scheme counting as given.
bool sameOrigin(const QUrl& a, const QUrl& b);

// Tests see every request as it is sent, as they see every message box; a null recorder stops.
using HttpRecorder = std::function<void(const HttpRequest&)>;
void setHttpRecorder(HttpRecorder recorder);

} // namespace platform

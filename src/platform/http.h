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
class Http : public QObject {
    Q_OBJECT
public:
    explicit Http(QObject* parent = nullptr);

    // done runs once, later, from the event loop, unless abortAll() comes first.
    void send(const HttpRequest& request, std::function<void(const HttpReply&)> done);
    // Ends every request in flight without running their done.
    void abortAll();

    static constexpr int kTimeoutMs = 30000;

private:
    QNetworkAccessManager m_manager;
};

// Tests see every request as it is sent, as they see every message box; a null recorder stops.
using HttpRecorder = std::function<void(const HttpRequest&)>;
void setHttpRecorder(HttpRecorder recorder);

} // namespace platform

#include "platform/http.h"

#include <QNetworkReply>
#include <QSslError>
#include <QTimer>

#include <memory>

namespace platform {
namespace {
HttpRecorder g_recorder;
int g_deadlineMs = Http::kDeadlineMs;
qint64 g_maxReplyBytes = Http::kMaxReplyBytes;

int defaultPort(const QUrl& url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

QString origin(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString describe(QNetworkReply::NetworkError error, const QString& qtText, const QString& tlsText)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("サーバーに接続できません：接続が拒否されました");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("サーバーが応答の途中で接続を切りました");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("サーバーが見つかりません：URL のサーバー名を確かめてください");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out ends a request this way
        return QStringLiteral("サーバーが30秒以上応答しませんでした");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("安全な接続ができません：サーバーの証明書を確かめられません（%1）")
            .arg(tlsText.isEmpty() ? qtText : tlsText);
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("この URL には接続できません：https:// か http:// の URL だけが使えます");
    default:
        return QStringLiteral("ネットワークで通信できません（%1）").arg(qtText);
    }
}
} // namespace

void setHttpRecorder(HttpRecorder recorder)
{
    g_recorder = std::move(recorder);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && defaultPort(a) == defaultPort(b);
}

void Http::setLimitsForTests(int deadlineMs, qint64 maxReplyBytes)
{
    g_deadlineMs = deadlineMs;
    g_maxReplyBytes = maxReplyBytes;
}

Http::Http(QObject* parent) : QObject(parent) {}

void Http::send(const HttpRequest& request, std::function<void(const HttpReply&)> done)
{
    attempt(request, request.url, 0, std::move(done));
}

void Http::attempt(const HttpRequest& request, const QUrl& url, int redirects, std::function<void(const HttpReply&)> done)
{
    if (g_recorder) {
        HttpRequest seen = request;
        seen.url = url;
        g_recorder(seen);
    }
    QNetworkRequest r(url);
    r.setTransferTimeout(kTimeoutMs);
    // Qt would follow a redirect to any server by itself, and our headers, the password among
    // them, would go along: each redirect is looked at below instead.
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto& [name, value] : request.headers)
        r.setRawHeader(name, value);
    QNetworkReply* reply = m_manager.sendCustomRequest(r, request.method, request.body);
    // Why we ended the request ourselves. The abort waits for the event loop, so that no
    // handler of the caller's runs inside Qt's signal.
    auto cut = std::make_shared<QString>();
    auto end = [reply, cut](const QString& why) {
        if (!cut->isEmpty())
            return;
        *cut = why;
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [end] {
        const QString span = g_deadlineMs % 60000 == 0 ? QStringLiteral("%1分").arg(g_deadlineMs / 60000)
                                                       : QStringLiteral("%1秒").arg(g_deadlineMs / 1000.0);
        end(QStringLiteral("サーバーの応答が%1以内に終わりませんでした").arg(span));
    });
    deadline->start(g_deadlineMs);
    auto limit = [end](qint64 bytes) {
        if (bytes > g_maxReplyBytes)
            end(QStringLiteral("サーバーの応答が大きすぎます（上限 %1 MB）。受け取りを中止しました")
                    .arg(double(g_maxReplyBytes) / (1024 * 1024), 0, 'g', 3));
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply,
            [reply, limit] { limit(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()); });
    connect(reply, &QNetworkReply::downloadProgress, reply, [limit](qint64 received, qint64) { limit(received); });
    auto tlsText = std::make_shared<QString>();
    connect(reply, &QNetworkReply::sslErrors, reply, [tlsText](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& e : errors)
            texts << e.errorString();
        *tlsText = texts.join(QStringLiteral("、"));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, tlsText, cut, request, url, redirects, done = std::move(done)] {
        reply->deleteLater();
        HttpReply answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!cut->isEmpty()) {
            answer.failure = *cut;
            answer.status = 0;
            return done(answer);
        }
        const QByteArray location = reply->rawHeader("Location");
        if (isRedirect(answer.status) && !location.isEmpty()) {
            const QUrl target = url.resolved(QUrl::fromEncoded(location));
            if (sameOrigin(target, url) && redirects < kMaxRedirects)
                return attempt(request, target, redirects + 1, done);
            answer.status = 0;
            answer.failure =
                sameOrigin(target, url)
                    ? QStringLiteral("サーバーが転送を繰り返しました")
                    : QStringLiteral("サーバーが別の接続先（%1）へ転送しようとしました。パスワードを渡さないよう、"
                                     "転送先には接続していません")
                          .arg(origin(target));
            return done(answer);
        }
        answer.reason = QString::fromUtf8(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
        answer.body = reply->readAll();
        answer.etag = reply->rawHeader("ETag");
        if (answer.status == 0)
            answer.failure = describe(reply->error(), reply->errorString(), *tlsText);
        done(answer);
    });
}

void Http::abortAll()
{
    for (QNetworkReply* reply : m_manager.findChildren<QNetworkReply*>()) {
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
    }
}

} // namespace platform

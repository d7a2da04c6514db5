#include "platform/http.h"

#include <QNetworkReply>
#include <QSslError>

#include <memory>

namespace platform {
namespace {
HttpRecorder g_recorder;

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

Http::Http(QObject* parent) : QObject(parent) {}

void Http::send(const HttpRequest& request, std::function<void(const HttpReply&)> done)
{
    if (g_recorder)
        g_recorder(request);
    QNetworkRequest r(request.url);
    r.setTransferTimeout(kTimeoutMs);
    for (const auto& [name, value] : request.headers)
        r.setRawHeader(name, value);
    QNetworkReply* reply = m_manager.sendCustomRequest(r, request.method, request.body);
    auto tlsText = std::make_shared<QString>();
    connect(reply, &QNetworkReply::sslErrors, reply, [tlsText](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& e : errors)
            texts << e.errorString();
        *tlsText = texts.join(QStringLiteral("、"));
    });
    connect(reply, &QNetworkReply::finished, this, [reply, tlsText, done = std::move(done)] {
        reply->deleteLater();
        HttpReply answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
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

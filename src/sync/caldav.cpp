#include "sync/caldav.h"

#include "platform/failure.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace calsync {
namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");

QUrl urlOf(const Account& account, const QString& path)
{
    QUrl url = account.calendar;
    url.setPath(path, QUrl::DecodedMode);
    return url;
}

platform::HttpRequest request(const Account& account, const QByteArray& method, const QUrl& url, const QByteArray& body = {})
{
    platform::HttpRequest r{method, url, {}, body};
    // Basic authentication with the first request: every CalDAV server takes it, and over
    // https it is as safe as the connection.
    if (!account.user.isEmpty())
        r.headers.emplace_back("Authorization", "Basic " + (account.user + u':' + account.password).toUtf8().toBase64());
    return r;
}

platform::HttpRequest report(const Account& account, const QByteArray& depth, const QString& xml)
{
    platform::HttpRequest r = request(account, "REPORT", account.calendar,
                                      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + xml.toUtf8());
    r.headers.emplace_back("Content-Type", "application/xml; charset=utf-8");
    r.headers.emplace_back("Depth", depth);
    return r;
}

int statusOf(const QString& line) // "HTTP/1.1 404 Not Found"
{
    return line.simplified().section(u' ', 1, 1).toInt();
}

} // namespace

QString urlProblem(const QString& typed)
{
    const QString text = typed.trimmed();
    // QUrl only says "invalid": the parts are looked at first, so that the message names the fault.
    static const QRegularExpression parts(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://(?:[^@/?#]*@)?"
                                                         "(\\[[^\\]/]*\\]|[^:/?#]*)(?::([^/?#]*))?"));
    const QRegularExpressionMatch m = parts.match(text);
    const QString scheme = m.captured(1).toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return QStringLiteral("カレンダーの URL は https:// か http:// で始めてください。");
    if (text.contains(QRegularExpression(QStringLiteral("\\s"))))
        return QStringLiteral("カレンダーの URL に空白が入っています。空白は %20 と書いてください。");
    bool number = false;
    const int port = m.captured(3).toInt(&number);
    if (m.hasCaptured(3) && !m.captured(3).isEmpty() && (!number || port < 1 || port > 65535))
        return QStringLiteral("カレンダーの URL のポート番号「%1」は使えません。1～65535 の数を指定してください。")
            .arg(m.captured(3).left(20));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("カレンダーの URL に使えない文字が入っています。");
    if (url.host().isEmpty())
        return QStringLiteral("カレンダーの URL にサーバー名がありません。");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("URL にはユーザー名やパスワードを入れず、それぞれの欄に入力してください。");
    return {};
}

QUrl calendarUrl(const QString& typed)
{
    if (!urlProblem(typed).isEmpty())
        return {};
    QUrl url(typed.trimmed(), QUrl::StrictMode);
    url.setFragment({});
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    return url;
}

QString keyringKey(const QString& user, const QUrl& calendar)
{
    return user + u'@' + calendar.toString();
}

Multistatus readMultistatus(const QByteArray& body, const QUrl& base)
{
    Multistatus result;
    Response response, found;
    bool inPropstat = false;
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isDTD())
            throw platform::Failure(QStringLiteral("サーバーの応答に実体の宣言（DTD）があるため、読みませんでした"));
        if (xml.isEndElement() && xml.namespaceUri() == kDav) {
            if (xml.name() == QLatin1String("propstat")) {
                inPropstat = false;
                // Properties under a status other than 2xx were not found.
                if (found.status / 100 == 2) {
                    found.href = response.href;
                    found.status = response.status;
                    response = found;
                }
            } else if (xml.name() == QLatin1String("response")) {
                result.responses.push_back(response);
            }
            continue;
        }
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        if (xml.namespaceUri() == kCalDav) {
            if (name == QLatin1String("calendar-data"))
                found.data = xml.readElementText().toUtf8();
            else if (name == QLatin1String("calendar"))
                found.calendar = true;
        } else if (xml.namespaceUri() != kDav) {
            xml.skipCurrentElement();
        } else if (name == QLatin1String("response")) {
            response = {};
        } else if (name == QLatin1String("propstat")) {
            found = response;
            inPropstat = true;
        } else if (name == QLatin1String("href") && response.href.isEmpty()) {
            response.href = base.resolved(QUrl(xml.readElementText().trimmed())).path(QUrl::FullyDecoded);
        } else if (name == QLatin1String("status")) {
            (inPropstat ? found : response).status = statusOf(xml.readElementText());
        } else if (name == QLatin1String("getetag")) {
            found.etag = xml.readElementText().trimmed().toUtf8();
        } else if (name == QLatin1String("displayname")) {
            found.name = xml.readElementText();
        } else if (name == QLatin1String("sync-token")) {
            (inPropstat ? found.syncToken : result.syncToken) = xml.readElementText().trimmed();
        }
    }
    if (xml.hasError())
        throw platform::Failure(QStringLiteral("サーバーの応答を読めません（XML の %1 行 %2 列目が正しくありません）")
                                    .arg(xml.lineNumber())
                                    .arg(xml.columnNumber()));
    return result;
}

platform::HttpRequest describeCollection(const Account& account)
{
    platform::HttpRequest r = request(account, "PROPFIND", account.calendar,
                                      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                      "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:resourcetype/><d:displayname/>"
                                      "<d:sync-token/></d:prop></d:propfind>");
    r.headers.emplace_back("Content-Type", "application/xml; charset=utf-8");
    r.headers.emplace_back("Depth", "0");
    return r;
}

platform::HttpRequest changesSince(const Account& account, const QString& token)
{
    return report(account, "0",
                  QStringLiteral("<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>%1</d:sync-token>"
                                 "<d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>")
                      .arg(token.toHtmlEscaped()));
}

platform::HttpRequest allEvents(const Account& account)
{
    return report(account, "1",
                  QStringLiteral("<c:calendar-query xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                                 "<d:prop><d:getetag/></d:prop><c:filter><c:comp-filter name=\"VCALENDAR\">"
                                 "<c:comp-filter name=\"VEVENT\"/></c:comp-filter></c:filter></c:calendar-query>"));
}

platform::HttpRequest fetch(const Account& account, const QStringList& hrefs)
{
    QString xml = QStringLiteral("<c:calendar-multiget xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                                 "<d:prop><d:getetag/><c:calendar-data/></d:prop>");
    for (const QString& href : hrefs)
        xml += QStringLiteral("<d:href>%1</d:href>").arg(urlOf(account, href).path(QUrl::FullyEncoded).toHtmlEscaped());
    return report(account, "1", xml + QStringLiteral("</c:calendar-multiget>"));
}

platform::HttpRequest put(const Account& account, const QString& href, const QByteArray& body, const QByteArray& etag)
{
    platform::HttpRequest r = request(account, "PUT", urlOf(account, href), body);
    r.headers.emplace_back("Content-Type", "text/calendar; charset=utf-8");
    if (etag.isEmpty())
        r.headers.emplace_back("If-None-Match", "*");
    else
        r.headers.emplace_back("If-Match", etag);
    return r;
}

platform::HttpRequest remove(const Account& account, const QString& href, const QByteArray& etag)
{
    platform::HttpRequest r = request(account, "DELETE", urlOf(account, href));
    if (!etag.isEmpty())
        r.headers.emplace_back("If-Match", etag);
    return r;
}

QString hrefFor(const Account& account, const QString& uid)
{
    return account.calendar.path(QUrl::FullyDecoded) + uid + QStringLiteral(".ics");
}

bool insideCalendar(const Account& account, const QString& href)
{
    const QString own = account.calendar.path(QUrl::FullyDecoded);
    if (!href.startsWith(own))
        return false;
    const QString name = href.mid(own.size());
    return !name.isEmpty() && !name.contains(u'/') && name != QLatin1String(".") && name != QLatin1String("..");
}

QString problem(const platform::HttpReply& reply)
{
    if (!reply.failure.isEmpty())
        return reply.failure;
    const int s = reply.status;
    const QString meaning =
        s / 100 == 3             ? QStringLiteral("カレンダーの URL が移っています（新しい URL を設定してください）")
        : s == 401               ? QStringLiteral("ユーザー名またはパスワードが違います")
        : s == 403               ? QStringLiteral("このカレンダーを使う権限がありません")
        : s == 404               ? QStringLiteral("カレンダーが見つかりません（URL を確かめてください）")
        : s == 405 || s == 501   ? QStringLiteral("この URL は CalDAV のカレンダーではありません")
        : s == 409 || s == 400   ? QStringLiteral("サーバーが予定を受け付けませんでした")
        : s == 412               ? QStringLiteral("ほかの機器での変更と重なりました（もう一度同期してください）")
        : s == 413               ? QStringLiteral("予定が大きすぎてサーバーが受け付けません")
        : s == 507               ? QStringLiteral("サーバーの容量が足りません")
        : s / 100 == 5           ? QStringLiteral("サーバーで障害が起きています（しばらくしてからやり直してください）")
                                 : QString();
    const QString status = QStringLiteral("サーバーの応答 %1 %2").arg(s).arg(reply.reason.left(100)).trimmed();
    return meaning.isEmpty() ? status : status + QStringLiteral("：") + meaning;
}

} // namespace calsync

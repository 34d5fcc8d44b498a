#include "index/LibraryFiles.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace library {

NameInfo infoFromFileName(const std::string& videoPath) {
    const QString stem = QFileInfo(QString::fromStdString(videoPath)).completeBaseName();
    static const QRegularExpression datePattern(
        QStringLiteral("(?<!\\d)(\\d{4})([-_.]?)(\\d{2})\\2(\\d{2})(?!\\d)"));
    NameInfo info;
    QString rest = stem;
    for (QRegularExpressionMatchIterator it = datePattern.globalMatch(stem); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QDate day(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
        if (!day.isValid())
            continue;
        info.date = day.toString(Qt::ISODate);
        rest = stem.left(m.capturedStart()) + QLatin1Char(' ') + stem.mid(m.capturedEnd());
        break;
    }
    static const QRegularExpression edges(QStringLiteral("^[\\s_\\-.]+|[\\s_\\-.]+$"));
    rest.remove(edges);
    info.title = rest.isEmpty() ? stem : rest;
    return info;
}

bool isDateText(const QString& date) {
    if (date.isEmpty())
        return true;
    static const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return shape.match(date).hasMatch() && QDate::fromString(date, Qt::ISODate).isValid();
}

std::optional<FileStamp> fileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<int64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<int64_t>(st.st_dev)};
}

QString videoIdentity(const std::string& path) {
    constexpr qint64 kPart = 1024 * 1024;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray head = file.read(kPart);
    if (head.size() != std::min(size, kPart))
        return {};
    hash.addData(head);
    if (size > kPart) {
        const qint64 tailStart = std::max(kPart, size - kPart);
        if (!file.seek(tailStart))
            return {};
        const QByteArray tail = file.read(size - tailStart);
        if (tail.size() != size - tailStart)
            return {};
        hash.addData(tail);
    }
    return QString::number(size) + QLatin1Char(':') + QString::fromLatin1(hash.result().toHex());
}

QString contentHash(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

namespace {

// The mount table's type of the mount holding `path` (the longest mount
// point that is a prefix of its canonical path).
QString mountTypeOf(const QString& canonical) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    QString best, bestType;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        // id parent major:minor root mountpoint options ... - type source ...
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (f.size() < 5 || dash < 0 || dash + 1 >= f.size())
            continue;
        QString point = QString::fromUtf8(f[4]);
        point.replace(QStringLiteral("\\040"), QStringLiteral(" "));
        const bool inside = point == QLatin1String("/") || canonical == point ||
                            canonical.startsWith(point + QLatin1Char('/'));
        if (inside && point.size() >= best.size()) {
            best = point;
            bestType = QString::fromUtf8(f[dash + 1]);
        }
    }
    return bestType;
}

} // namespace

QString networkFileSystemName(int64_t magic, const QString& mountType) {
    switch (static_cast<uint32_t>(magic)) {
    case 0x6969:
        return QStringLiteral("NFS");
    case 0x517B:
        return QStringLiteral("SMB");
    case 0xFF534D42:
        return QStringLiteral("CIFS");
    case 0xFE534D42:
        return QStringLiteral("SMB2");
    case 0x564C:
        return QStringLiteral("NCP");
    case 0x73757245:
        return QStringLiteral("Coda");
    case 0x5346414F:
        return QStringLiteral("AFS");
    case 0x00C36400:
        return QStringLiteral("Ceph");
    case 0x01021997:
        return QStringLiteral("9P");
    case 0x0BD00BD0:
        return QStringLiteral("Lustre");
    default:
        break;
    }
    // FUSE carries local file systems too: only its network ones are named.
    static const QStringList remote = {
        QStringLiteral("nfs"),
        QStringLiteral("nfs4"),
        QStringLiteral("cifs"),
        QStringLiteral("smb3"),
        QStringLiteral("smbfs"),
        QStringLiteral("9p"),
        QStringLiteral("afs"),
        QStringLiteral("ceph"),
        QStringLiteral("glusterfs"),
        QStringLiteral("fuse.sshfs"),
        QStringLiteral("fuse.davfs2"),
        QStringLiteral("davfs"),
        QStringLiteral("fuse.rclone"),
        QStringLiteral("fuse.s3fs"),
        QStringLiteral("fuse.gcsfuse"),
        QStringLiteral("fuse.glusterfs"),
        QStringLiteral("fuse.curlftpfs"),
        QStringLiteral("fuse.smbnetfs"),
        QStringLiteral("fuse.cephfs"),
        QStringLiteral("fuse.afpfs"),
        QStringLiteral("fuse.gvfsd-fuse"),
    };
    if (remote.contains(mountType))
        return mountType;
    return {};
}

QString networkFileSystem(const QString& path) {
    QFileInfo at(path);
    // The nearest folder that exists: the file may not be made yet.
    QString place = at.absoluteFilePath();
    while (!QFileInfo::exists(place)) {
        const QString up = QFileInfo(place).absolutePath();
        if (up == place)
            break;
        place = up;
    }
    struct statfs fs {};
    if (::statfs(QFile::encodeName(place).constData(), &fs) != 0)
        return {};
    const QString canonical = QFileInfo(place).canonicalFilePath();
    return networkFileSystemName(static_cast<int64_t>(fs.f_type), mountTypeOf(canonical));
}

bool isPostgresUrl(const QString& database) {
    return database.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           database.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

namespace {

// libpq's connection keywords a URL may set. Not the password (nor a
// service file or a key's passphrase, which may hold one), nor replication.
const QStringList& allowedKeywords() {
    static const QStringList keys = {
        QStringLiteral("hostaddr"),
        QStringLiteral("passfile"),
        QStringLiteral("channel_binding"),
        QStringLiteral("connect_timeout"),
        QStringLiteral("client_encoding"),
        QStringLiteral("options"),
        QStringLiteral("application_name"),
        QStringLiteral("fallback_application_name"),
        QStringLiteral("keepalives"),
        QStringLiteral("keepalives_idle"),
        QStringLiteral("keepalives_interval"),
        QStringLiteral("keepalives_count"),
        QStringLiteral("tcp_user_timeout"),
        QStringLiteral("sslmode"),
        QStringLiteral("requiressl"),
        QStringLiteral("sslcompression"),
        QStringLiteral("sslcert"),
        QStringLiteral("sslkey"),
        QStringLiteral("sslrootcert"),
        QStringLiteral("sslcrl"),
        QStringLiteral("sslcrldir"),
        QStringLiteral("sslsni"),
        QStringLiteral("requirepeer"),
        QStringLiteral("ssl_min_protocol_version"),
        QStringLiteral("ssl_max_protocol_version"),
        QStringLiteral("gssencmode"),
        QStringLiteral("krbsrvname"),
        QStringLiteral("gsslib"),
        QStringLiteral("target_session_attrs"),
        QStringLiteral("load_balance_hosts"),
    };
    return keys;
}

QString passwordRefusal() {
    return QStringLiteral("URL にパスワードを書かないでください。パスワードは ~/.pgpass "
                          "か環境変数 PGPASSWORD で渡します。");
}

// Qt turns every ';' of the connect options into a space, and a NUL would
// cut the string short: neither can be passed on safely.
bool passable(const QString& value) {
    return std::none_of(value.begin(), value.end(),
                        [](QChar c) { return c == QLatin1Char(';') || c.unicode() < 0x20; });
}

// A value as libpq's connection string reads it: in single quotes, with
// backslashes and quotes escaped.
QString quoted(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

} // namespace

bool parsePostgresUrl(const QString& url, PostgresTarget& target, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // Tolerant: a space typed in a value (options=-c name=value) is meant.
    const QUrl u(url, QUrl::TolerantMode);
    if (!u.isValid() || !isPostgresUrl(url))
        return fail(
            QStringLiteral("PostgreSQL の URL を読めません (postgresql://ホスト/データベース"
                           "?user=ユーザー の形で書いてください): ") +
            url);
    if (!u.password().isEmpty())
        return fail(passwordRefusal());
    target = {};
    target.host = u.host(QUrl::FullyDecoded);
    target.port = u.port(-1);
    target.user = u.userName(QUrl::FullyDecoded);
    target.database = u.path(QUrl::FullyDecoded);
    if (target.database.startsWith(QLatin1Char('/')))
        target.database.remove(0, 1);
    const QUrlQuery query(u);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password") || key == QLatin1String("sslpassword") ||
            key == QLatin1String("service"))
            return fail(passwordRefusal() + QStringLiteral(" (") + key + QLatin1Char(')'));
        if (!passable(value))
            return fail(QStringLiteral("接続の設定 %1 の値に ; や制御文字は使えません。").arg(key));
        if (key == QLatin1String("host")) {
            target.host = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            target.port = value.toInt(&ok);
            if (!ok || target.port <= 0 || target.port > 65535)
                return fail(QStringLiteral("ポート番号を読めません: ") + value);
        } else if (key == QLatin1String("user")) {
            target.user = value;
        } else if (key == QLatin1String("dbname")) {
            if (!target.database.isEmpty() && target.database != value)
                return fail(QStringLiteral("URL にデータベース名が二つあります (%1 と %2)。"
                                           "一つにしてください。")
                                .arg(target.database, value));
            target.database = value;
        } else if (allowedKeywords().contains(key)) {
            target.options << key + QLatin1Char('=') + value;
        } else {
            return fail(QStringLiteral("PostgreSQL の URL に使えない設定があります: %1 "
                                       "(使えるのは host, port, user, dbname と libpq の接続の設定 "
                                       "sslmode, connect_timeout, options, application_name "
                                       "など)。")
                            .arg(key.isEmpty() ? QStringLiteral("(空)") : key));
        }
    }
    for (const QString& part : {target.host, target.user, target.database})
        if (!passable(part))
            return fail(QStringLiteral("URL のホスト名・ユーザー名・データベース名に ; や制御文字は"
                                       "使えません。"));
    if (target.database.isEmpty())
        return fail(QStringLiteral("URL にデータベース名がありません "
                                   "(postgresql://ホスト/データベース): ") +
                    url);
    return true;
}

QString postgresConnectOptions(const PostgresTarget& target, const QStringList& defaults) {
    QStringList parts;
    const auto add = [&parts](const QString& keyValue) {
        const qsizetype eq = keyValue.indexOf(QLatin1Char('='));
        parts << keyValue.left(eq) + QLatin1Char('=') + quoted(keyValue.mid(eq + 1));
    };
    parts << QStringLiteral("dbname=") + quoted(target.database);
    if (!target.host.isEmpty())
        parts << QStringLiteral("host=") + quoted(target.host);
    if (target.port > 0)
        parts << QStringLiteral("port=") + quoted(QString::number(target.port));
    if (!target.user.isEmpty())
        parts << QStringLiteral("user=") + quoted(target.user);
    // The URL's own settings come last: libpq takes the last of a keyword.
    for (const QString& o : defaults + target.options)
        add(o);
    return parts.join(QLatin1Char(' '));
}

QString searchKey(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

std::vector<QString> searchWords(const std::string& text) {
    std::vector<QString> words;
    static const QRegularExpression space(QStringLiteral("[\\s\\x{3000}]+"));
    for (const QString& w : QString::fromStdString(text).split(space, Qt::SkipEmptyParts))
        words.push_back(w);
    return words;
}

QString likePattern(const QString& word) {
    QString escaped;
    escaped.reserve(word.size() + 2);
    escaped += QLatin1Char('%');
    for (const QChar c : word) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('!'))
            escaped += QLatin1Char('!');
        escaped += c;
    }
    escaped += QLatin1Char('%');
    return escaped;
}

} // namespace library

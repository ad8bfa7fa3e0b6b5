#include "CLogFile.h"

#include "CSettings.h"
#include "SharedConstants.h"

#include <QDateTime>
#include <QDebug>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

#include <cstdio>

#include <utility>

CLogFile *CLogFile::self = nullptr;

namespace {
const QString Banner1 = QString(65, QLatin1Char('*'));
const QString Banner2
    = QStringLiteral("**                      New session                            **");
} // namespace

CLogFile::CLogFile(const QString &name_, const QString &sessionInfo_, QObject *parent)
    : QObject(parent), sessionInfo(sessionInfo_), name(name_)
{
    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");
    fileIndex = CSettings::readValue(SettingsKey::FilesCounter, 0).toInt();
    file.setFileName(fileNameFor(fileIndex));
    const QIODevice::OpenMode mode
        = file.exists() ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text
                        : QIODevice::ReadWrite | QIODevice::Text;
    if (openFile(mode)) {
        addLogMetod(Banner1, LogInfo);
        addLogMetod(sessionInfo.isEmpty() ? Banner2
                                          : QStringLiteral("**  New session  [") + sessionInfo
                                                + QStringLiteral("] **"),
                    LogInfo);
    } else {
        qDebug() << "[CLogFile] Invalid file opening!";
    }
}

CLogFile::~CLogFile()
{
    file.close();
}

CLogFile *CLogFile::getInstance(const QString &name, const QString &sessionInfo)
{
    static QMutex creationMutex;
    if (!self) {
        QMutexLocker locker(&creationMutex);
        if (!self)
            self = new CLogFile(name, sessionInfo);
    }
    return self;
}

CLogFile *CLogFile::instance()
{
    return self;
}

QString CLogFile::fileNameFor(int index) const
{
    return index == 0 ? FileNames::LogPattern.arg(name)
                      : FileNames::NumberedLogPattern.arg(name).arg(index);
}

bool CLogFile::openFile(QIODevice::OpenMode mode)
{
    const bool opened = file.open(mode);
    fileBytes = opened ? file.size() : 0;
    return opened;
}

QString CLogFile::stampAt(qint64 now)
{
    static const bool endsInMillis = DateFormat::LogStamp.endsWith(QLatin1String("zzz"));
    if (!endsInMillis)
        return QDateTime::fromMSecsSinceEpoch(now).toString(DateFormat::LogStamp);
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (second != stampSecond) {
        stampHead = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(DateFormat::LogStamp);
        stampHead.chop(3);
        stampSecond = second;
    }
    const int millis = int(now - second * 1000);
    QString stamp;
    stamp.reserve(stampHead.size() + 3);
    stamp.append(stampHead);
    stamp.append(QLatin1Char(char('0' + millis / 100)));
    stamp.append(QLatin1Char(char('0' + millis / 10 % 10)));
    stamp.append(QLatin1Char(char('0' + millis % 10)));
    return stamp;
}

QString CLogFile::buildEntry(const QString &logStr)
{
    const QString stamp = stampAt(QDateTime::currentMSecsSinceEpoch());
    QString entry;
    entry.reserve(stamp.size() + logStr.size() + 3);
    entry.append(QStringLiteral("\n["));
    entry.append(stamp);
    entry.append(QLatin1Char(']'));
    entry.append(logStr);
    return entry;
}

void CLogFile::writeEntry(const QString &entry)
{
    if (file.isOpen()) {
        const QByteArray bytes = entry.toUtf8();
        qint64 written = file.write(bytes);
        file.flush();
#ifdef Q_OS_WIN
        // Text mode writes every line feed as two bytes there.
        if (written > 0 && file.openMode().testFlag(QIODevice::Text))
            written += bytes.count('\n');
#endif
        if (written > 0)
            fileBytes += written;
    } else {
        qDebug() << "[CLogFile::addLogMetod] File is closed!";
    }
}

void CLogFile::addLogMetod(QString logStr, CLogFile::ELogMessageType type)
{
    if (!CSettings::readValue(SettingsKey::UseLog, true).toBool())
        return;
    QMutexLocker locker(&mutex);
    QString entry = buildEntry(logStr);
    if (fileBytes
        > CSettings::readValue(SettingsKey::FileMaxSize, SettingsKey::DefaultFileMaxSize).toInt())
        rotate();
    writeEntry(entry);
    // The entry begins with its line feed; most texts hold no other.
    if (entry.indexOf(QLatin1Char('\n'), 1) < 0)
        entry.remove(0, 1);
    else
        entry.remove(QLatin1Char('\n'));
    emit addLogSignal(entry, type);
}

void CLogFile::rotate()
{
    ++fileIndex;
    file.close();
    // An absent key means what the log-settings dialog shows for it, not 0: a fresh install would
    // otherwise empty the log at every rotation.
    const auto maxFiles = [] {
        return CSettings::readValue(SettingsKey::MaxFilesCounter,
                                    SettingsKey::DefaultMaxFilesCounter)
            .toInt();
    };
    if (fileIndex > maxFiles() - 1) {
        for (int i = 1; i < maxFiles(); ++i)
            QFile::remove(fileNameFor(i));
        QFile unnumbered(fileNameFor(0));
        if (unnumbered.open(QIODevice::WriteOnly | QIODevice::Truncate))
            unnumbered.close();
        fileIndex = 0;
    }
    CSettings::writeValue(SettingsKey::FilesCounter, fileIndex);
    file.setFileName(fileNameFor(fileIndex));
    // A numbered file left from a larger file count is emptied, so no stale lines stay in it.
    if (!openFile(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text))
        qDebug() << "[CLogFile] Invalid new file opening!";
}

void CLogFile::addLogIntoFileOnly(QString logStr)
{
    QMutexLocker locker(&mutex);
    const QString entry = buildEntry(logStr);
    if (fileBytes > 65535) {
        ++fileIndex;
        CSettings::writeValue(SettingsKey::FilesCounter, fileIndex);
        file.close();
        file.setFileName(fileNameFor(fileIndex));
        if (!openFile(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text)) {
            qDebug() << "[CLogFile] Invalid new file opening!";
            return;
        }
    }
    writeEntry(entry);
}

bool CLogFile::isEnabled()
{
    const CLogFile *log = self;
    if (!log || QThread::currentThread() != log->thread())
        return true;
    return CSettings::readValue(SettingsKey::UseLog, true).toBool();
}

bool CLogFile::post(const QString &text, ELogMessageType type)
{
    CLogFile *log = self;
    if (!log)
        return false;
    // addLogMetod would drop it anyway; in the log's own thread the setting can be read here.
    if (QThread::currentThread() == log->thread()
        && !CSettings::readValue(SettingsKey::UseLog, true).toBool())
        return true;
    QMutexLocker locker(&log->pendingMutex);
    log->pending.append({text, type});
    if (log->pending.size() > 1)
        return true; // the queued call already on its way writes this line too
    locker.unlock();
    return QMetaObject::invokeMethod(log, &CLogFile::writePending, Qt::QueuedConnection);
}

void CLogFile::writePending()
{
    QList<SPendingLine> lines;
    {
        QMutexLocker locker(&pendingMutex);
        lines.swap(pending);
    }
    for (const SPendingLine &line : std::as_const(lines))
        addLogMetod(line.text, line.type);
}

void addLog(const QString &text, CLogFile::ELogMessageType type, bool alsoDebug)
{
    if (!CLogFile::post(text, type))
        qDebug() << "[" << Q_FUNC_INFO << "] невозможно создать invokeMethod";
    if (alsoDebug)
        qDebug() << text;
}

void addLogAndPrint(const QString &text, CLogFile::ELogMessageType type)
{
    addLog(text, type);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

#include "CLogFile.h"

#include "CSettings.h"
#include "SharedConstants.h"

#include <QDateTime>
#include <QDebug>
#include <QMetaObject>
#include <QMutexLocker>

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
    if (file.open(mode)) {
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

QString CLogFile::buildEntry(const QString &logStr) const
{
    return QStringLiteral("\n[") + QDateTime::currentDateTime().toString(DateFormat::LogStamp)
           + QStringLiteral("]") + logStr;
}

void CLogFile::writeEntry(const QString &entry)
{
    if (file.isOpen()) {
        file.write(entry.toUtf8());
        file.flush();
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
    if (file.size() > CSettings::readValue(SettingsKey::FileMaxSize, 1000000).toInt())
        rotate();
    writeEntry(entry);
    entry.remove(QLatin1Char('\n'));
    emit addLogSignal(entry, type);
}

void CLogFile::rotate()
{
    ++fileIndex;
    file.close();
    const int n = CSettings::readValue(SettingsKey::MaxFilesCounter).toInt();
    if (fileIndex > n - 1) {
        for (int i = 1; i < CSettings::readValue(SettingsKey::MaxFilesCounter).toInt(); ++i)
            QFile::remove(fileNameFor(i));
        QFile unnumbered(fileNameFor(0));
        if (unnumbered.open(QIODevice::WriteOnly | QIODevice::Truncate))
            unnumbered.close();
        fileIndex = 0;
    }
    CSettings::writeValue(SettingsKey::FilesCounter, fileIndex);
    file.setFileName(fileNameFor(fileIndex));
    // A numbered file left from a larger file count is emptied, so no stale lines stay in it.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text))
        qDebug() << "[CLogFile] Invalid new file opening!";
}

void CLogFile::addLogIntoFileOnly(QString logStr)
{
    QMutexLocker locker(&mutex);
    const QString entry = buildEntry(logStr);
    if (file.size() > 65535) {
        ++fileIndex;
        CSettings::writeValue(SettingsKey::FilesCounter, fileIndex);
        file.close();
        file.setFileName(fileNameFor(fileIndex));
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text)) {
            qDebug() << "[CLogFile] Invalid new file opening!";
            return;
        }
    }
    writeEntry(entry);
}

void addLog(const QString &text, CLogFile::ELogMessageType type, bool alsoDebug)
{
    const bool invoked
        = QMetaObject::invokeMethod(CLogFile::instance(), "addLogMetod", Qt::QueuedConnection,
                                    Q_ARG(QString, text), Q_ARG(CLogFile::ELogMessageType, type));
    if (!invoked)
        qDebug() << "[" << Q_FUNC_INFO << "] невозможно создать invokeMethod";
    if (alsoDebug)
        qDebug() << text;
}

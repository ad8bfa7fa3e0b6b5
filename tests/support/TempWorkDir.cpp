#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempWorkDir::TempWorkDir() : previous(QDir::currentPath())
{
    valid = dir.isValid() && QDir::setCurrent(dir.path());
}

TempWorkDir::~TempWorkDir()
{
    QDir::setCurrent(previous);
}

QString TempWorkDir::writeFile(const QString &relativePath, const QByteArray &content) const
{
    const QString path = dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

QByteArray TempWorkDir::readFile(const QString &relativePath) const
{
    QFile file(dir.filePath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

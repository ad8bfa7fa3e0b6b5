#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh temporary directory made the current working directory for as long as the object
// lives; the previous directory is restored and the temporary one removed afterwards.
class TempWorkDir
{
public:
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir &) = delete;
    TempWorkDir &operator=(const TempWorkDir &) = delete;

    bool isValid() const { return valid; }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

    // Writes a file below the directory (creating folders) and returns its path.
    QString writeFile(const QString &relativePath, const QByteArray &content) const;
    QByteArray readFile(const QString &relativePath) const;

private:
    QTemporaryDir dir;
    QString previous;
    bool valid = false;
};

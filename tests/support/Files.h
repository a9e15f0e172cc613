#pragma once

// Scratch folders and whole-file reads and writes for tests.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// Whole file, or empty when it cannot be read.
QByteArray readFile(const QString &path);
// Creates the parent folders, replaces the file; false when anything failed.
bool writeFile(const QString &path, const QByteArray &bytes);

// A folder of its own for one test, removed with the object.
class ScratchDir
{
public:
    bool isValid() const { return m_dir.isValid(); }
    // The folder, or a path inside it.
    QString path(const QString &name = {}) const
    {
        return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
    }
    bool write(const QString &name, const QByteArray &bytes) const { return writeFile(path(name), bytes); }
    // Writes the file and names it: its path, or empty when it could not be written.
    QString file(const QString &name, const QByteArray &bytes) const
    {
        return write(name, bytes) ? path(name) : QString();
    }
    QByteArray read(const QString &name) const { return readFile(path(name)); }
    // A shell script the owner may run ("#!/bin/sh", then body): its path, or empty.
    QString script(const QString &name, const QByteArray &body) const;

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
